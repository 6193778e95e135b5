#pragma once
// A stream laid over another that compresses the frames given to it and
// hands the compressor's output on.
#include "platform/vfw/avifile_internal.h"

namespace vfw::detail {

// Takes uncompressed frames of the format set on it; the source stream gets
// the compressor's output format and packets. Holds a reference to the
// source for as long as it lives.
AviStream* newCompressingStream(AviStream* source, const AVICOMPRESSOPTIONS& options);

// Takes PCM (16-bit, of the WAVEFORMATEX set on it) and hands the source
// stream MP3 of `output`'s rate, a frame a chunk (soundcodec.cpp). Null
// without an MP3 encoder.
AviStream* newSoundCompressingStream(AviStream* source, const MPEGLAYER3WAVEFORMAT& output);

}  // namespace vfw::detail
