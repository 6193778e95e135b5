#pragma once
// A stream laid over another that compresses the frames given to it and
// hands the compressor's output on.
#include "platform/vfw/avifile_internal.h"

namespace vfw::detail {

// Takes uncompressed frames of the format set on it; the source stream gets
// the compressor's output format and packets. Holds a reference to the
// source for as long as it lives.
AviStream* newCompressingStream(AviStream* source, const AVICOMPRESSOPTIONS& options);

}  // namespace vfw::detail
