#pragma once
// Knobs of the AVI file library that only tests and benchmarks turn: they
// let a test make a file of several RIFFs from a few megabytes of frames.
// The program itself never calls these.
#include <cstdint>

namespace vfw::testing {

// Bytes after which a RIFF is closed and the next 'AVIX' begins. 0 restores
// the default (1 GiB). Takes effect for files opened afterwards.
void setRiffSizeLimit(std::uint64_t bytes);
std::uint64_t riffSizeLimit();

// Milliseconds between two updates of the headers on disk while a file
// grows, and between two syncs of the file to the disk. 0 restores the
// default (1000 ms).
void setCheckpointInterval(int milliseconds);

// Files opened afterwards have every sync fail with this errno, as a disk
// that returns EIO would make them. 0 restores real syncs.
void setSyncFailure(int errnoValue);

}  // namespace vfw::testing
