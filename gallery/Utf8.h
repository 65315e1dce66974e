#pragma once

// The UTF-8 helpers of platform/core, as the page writers name them.

#include "platform/core/Utf8.h"

namespace fotolane::gallery {

using fotolane::AppendUtf8;
using fotolane::ForEachCharacter;
using fotolane::kReplacementCharacter;
using fotolane::NextCharacter;

}  // namespace fotolane::gallery
