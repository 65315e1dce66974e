#include "decoding/metadata/Exiv2Session.h"

#include <cstring>
#include <exception>
#include <limits>
#include <string_view>

#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

namespace {

std::mutex& Exiv2Mutex() {
    static std::mutex mutex;
    return mutex;
}

// Guarded by the mutex, as everything of exiv2 is.
bool firstDirectoryCut = false;

// exiv2's log handler: prints nothing. Its messages are formed only while
// the level lets them through, that is while listening.
void NoteMessage(int /*level*/, const char* message) {
    // "Directory Image: IFD entry N lies outside of the data buffer." and
    // "Directory Image: IFD exceeds data buffer, cannot read entry count."
    // (not the pointer to the next directory, which follows all entries).
    static constexpr std::string_view kEntryCut = "Directory Image: IFD entry ";
    static constexpr std::string_view kCountCut =
        "Directory Image: IFD exceeds data buffer, cannot read entry count";
    if (message == nullptr) return;
    const std::string_view text(message);
    if (text.starts_with(kEntryCut) || text.starts_with(kCountCut)) firstDirectoryCut = true;
}

void SetUp() {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::LogMsg::setHandler(NoteMessage);
    Exiv2::XmpParser::initialize();
    // exiv2 0.27 reads HEIF and AVIF (its BMFF class) only once asked to.
    Exiv2::enableBMFF(true);
}

}  // namespace

Exiv2Session::Exiv2Session() : lock_(Exiv2Mutex()) {
    static const bool ready = (SetUp(), true);
    (void)ready;
}

void Exiv2Session::ListenForCutFirstDirectory() {
    firstDirectoryCut = false;
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::error);
}

bool Exiv2Session::StopListening() {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    return firstDirectoryCut;
}

bool DecodeExif(std::span<const std::uint8_t> tiff, Exiv2::ExifData& data,
                Exiv2::ByteOrder& order) {
    data.clear();
    order = Exiv2::invalidByteOrder;
    if (tiff.empty() || tiff.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    try {
        order =
            Exiv2::ExifParser::decode(data, tiff.data(), static_cast<std::uint32_t>(tiff.size()));
        return true;
    } catch (const std::exception&) {
        // Exiv2::AnyError for data it refuses, std::bad_alloc or the
        // standard exceptions of its range checks: no EXIF.
        data.clear();
        return false;
    }
}

Exiv2::Image::AutoPtr OpenExiv2Image(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<long>::max())) {
        return Exiv2::Image::AutoPtr();
    }
    // exiv2 0.27's images own their input as a std::auto_ptr.
    Exiv2::BasicIo::AutoPtr io(new Exiv2::MemIo(bytes.data(), static_cast<long>(bytes.size())));
    switch (FormatOfContent(bytes)) {
        case PictureFormat::Jpeg:
            return Exiv2::Image::AutoPtr(new Exiv2::JpegImage(io, false));
        case PictureFormat::Png:
            return Exiv2::Image::AutoPtr(new Exiv2::PngImage(io, false));
        case PictureFormat::WebP:
            return Exiv2::Image::AutoPtr(new Exiv2::WebPImage(io));
        case PictureFormat::Heif:
            return Exiv2::Image::AutoPtr(new Exiv2::BmffImage(io, false));
        case PictureFormat::Gif:
            return Exiv2::Image::AutoPtr(new Exiv2::GifImage(io));
        case PictureFormat::Bitmap:
            return Exiv2::Image::AutoPtr(new Exiv2::BmpImage(io));
        case PictureFormat::Unknown:
            break;
    }
    return Exiv2::Image::AutoPtr();
}

}  // namespace fotolane::picture::detail
