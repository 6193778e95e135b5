#pragma once
// The AVI file library and the compressor-choice dialog, with the Video for
// Windows names, argument lists, structures and result codes. Behind them:
// our own RIFF/OpenDML writer and libavcodec's encoders.
#include <cstddef>
#include <cstdint>

#include "platform/gdi/wintypes.h"

namespace vfw {

using gdi::BITMAPINFOHEADER;
using gdi::BYTE;
using gdi::DWORD;
using gdi::FOURCC;
using gdi::LONG;
using gdi::RECT;
using gdi::WORD;
using gdi::mmioFOURCC;
using HRESULT = std::int32_t;
using BOOL = int;
using UINT = unsigned;
using LPVOID = void*;

// Result codes, 0x80044000 + n, held as 32-bit signed values.
constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT MAKE_AVIERR(unsigned n) { return static_cast<HRESULT>(0x80044000u + n); }
constexpr HRESULT AVIERR_UNSUPPORTED = MAKE_AVIERR(101);
constexpr HRESULT AVIERR_BADFORMAT = MAKE_AVIERR(102);
constexpr HRESULT AVIERR_MEMORY = MAKE_AVIERR(103);
constexpr HRESULT AVIERR_INTERNAL = MAKE_AVIERR(104);
constexpr HRESULT AVIERR_BADFLAGS = MAKE_AVIERR(105);
constexpr HRESULT AVIERR_BADPARAM = MAKE_AVIERR(106);
constexpr HRESULT AVIERR_BADSIZE = MAKE_AVIERR(107);
constexpr HRESULT AVIERR_BADHANDLE = MAKE_AVIERR(108);
constexpr HRESULT AVIERR_FILEREAD = MAKE_AVIERR(109);
constexpr HRESULT AVIERR_FILEWRITE = MAKE_AVIERR(110);
constexpr HRESULT AVIERR_FILEOPEN = MAKE_AVIERR(111);
constexpr HRESULT AVIERR_COMPRESSOR = MAKE_AVIERR(112);
constexpr HRESULT AVIERR_NOCOMPRESSOR = MAKE_AVIERR(113);
constexpr HRESULT AVIERR_READONLY = MAKE_AVIERR(114);
constexpr HRESULT AVIERR_NODATA = MAKE_AVIERR(115);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = MAKE_AVIERR(116);
constexpr HRESULT AVIERR_CANTCOMPRESS = MAKE_AVIERR(117);
constexpr HRESULT AVIERR_USERABORT = MAKE_AVIERR(198);
constexpr HRESULT AVIERR_ERROR = MAKE_AVIERR(199);

constexpr UINT OF_READ = 0x0000;
constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_CREATE = 0x1000;
constexpr DWORD AVIIF_KEYFRAME = 0x10;
constexpr UINT ICMF_CHOOSE_KEYFRAME = 0x1;
constexpr UINT ICMF_CHOOSE_DATARATE = 0x2;
constexpr UINT ICMF_CHOOSE_PREVIEW = 0x4;
constexpr UINT ICMF_CHOOSE_ALLCOMPRESSORS = 0x8;
constexpr DWORD ICMF_COMPVARS_VALID = 0x1;
constexpr DWORD AVICOMPRESSF_INTERLEAVE = 0x1;
constexpr DWORD AVICOMPRESSF_DATARATE = 0x2;
constexpr DWORD AVICOMPRESSF_KEYFRAMES = 0x4;
constexpr DWORD AVICOMPRESSF_VALID = 0x8;
constexpr LONG ICQUALITY_LOW = 0;
constexpr LONG ICQUALITY_HIGH = 10000;
constexpr LONG ICQUALITY_DEFAULT = -1;
constexpr FOURCC streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
constexpr FOURCC streamtypeAUDIO = mmioFOURCC('a', 'u', 'd', 's');
constexpr FOURCC ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c');
constexpr FOURCC comptypeDIB = mmioFOURCC('D', 'I', 'B', ' ');

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x55;

// A sound stream's format, as its 'strf' chunk holds it (18 bytes).
#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// MP3's (30 bytes): cbSize 12, one frame a block of nBlockSize bytes.
#pragma pack(push, 1)
struct MPEGLAYER3WAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wID;  // MPEGLAYER3_ID_MPEG
  DWORD fdwFlags;
  WORD nBlockSize;
  WORD nFramesPerBlock;
  WORD nCodecDelay;
};
#pragma pack(pop)
static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30);
constexpr WORD MPEGLAYER3_ID_MPEG = 1;
constexpr DWORD MPEGLAYER3_FLAG_PADDING_OFF = 2;

class AviFile;    // an open AVI file (the library's file object)
class AviStream;  // a stream of that file, raw or compressing
using PAVIFILE = AviFile*;
using PAVISTREAM = AviStream*;
using HIC = void*;

// In memory as the program fills it (140 bytes, no pointers).
struct AVISTREAMINFOA {
  DWORD fccType;
  DWORD fccHandler;
  DWORD dwFlags;
  DWORD dwCaps;
  WORD wPriority;
  WORD wLanguage;
  DWORD dwScale;
  DWORD dwRate;
  DWORD dwStart;
  DWORD dwLength;
  DWORD dwInitialFrames;
  DWORD dwSuggestedBufferSize;
  DWORD dwQuality;
  DWORD dwSampleSize;
  RECT rcFrame;
  DWORD dwEditCount;
  DWORD dwFormatChangeCount;
  char szName[64];
};
using AVISTREAMINFO = AVISTREAMINFOA;
static_assert(sizeof(AVISTREAMINFOA) == 140);

// The compressor choice. cbSize is set to 64, the record's size on the
// platform the program was written for, whatever a 64-bit build makes of
// the handle and the pointers; the library checks for that value.
struct COMPVARS {
  LONG cbSize;
  DWORD dwFlags;
  HIC hic;
  DWORD fccType;
  DWORD fccHandler;
  LPVOID lpbiIn;
  LPVOID lpbiOut;
  LPVOID lpBitsOut;
  LPVOID lpBitsPrev;
  LONG lFrame;
  LONG lKey;
  LONG lDataRate;  // kilobytes per second
  LONG lQ;         // 0..10000 or ICQUALITY_DEFAULT
  LONG lKeyCount;
  LPVOID lpState;
  LONG cbState;
};
constexpr LONG COMPVARS_CBSIZE = 64;

struct AVICOMPRESSOPTIONS {
  DWORD fccType;
  DWORD fccHandler;
  DWORD dwKeyFrameEvery;
  DWORD dwQuality;
  DWORD dwBytesPerSecond;
  DWORD dwFlags;
  LPVOID lpFormat;
  DWORD cbFormat;
  LPVOID lpParms;
  DWORD cbParms;
  DWORD dwInterleaveEvery;
};
using LPAVICOMPRESSOPTIONS = AVICOMPRESSOPTIONS*;

void AVIFileInit();
void AVIFileExit();
int AVIFileInitCount();  // how many AVIFileInit calls are not yet matched

HRESULT AVIFileOpenA(PAVIFILE* ppfile, const char* szFile, UINT uMode, const void* lpHandler);
// A file holds one video stream and, beside it, at most one sound stream
// (fccType streamtypeAUDIO, PCM or MP3): created after the video stream and
// given its format before the video stream's, which writes the header. Its
// chunks ('01wb') are written with AVIStreamWrite, in between the frames
// and on the same thread, so both streams lie interleaved in every RIFF:
// PCM with lSamples the sample frames (cbBuffer / nBlockAlign), MP3 one
// frame a chunk (lSamples 1, the stream's dwScale the samples of a frame).
// AVIMakeCompressedStream over a sound stream, with lpFormat the
// MPEGLAYER3WAVEFORMAT wanted, takes PCM (the WAVEFORMATEX set on it) and
// writes MP3 at a constant rate through libavcodec.
HRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFOA* psi);
HRESULT AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM psSource, const AVICOMPRESSOPTIONS* lpOptions,
                                const void* pclsidHandler);
HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, const void* lpFormat, LONG cbFormat);
HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, const void* lpBuffer, LONG cbBuffer,
                       DWORD dwFlags, LONG* plSampWritten, LONG* plBytesWritten);
// Kestrel's own: AVIStreamWrite of an uncompressed frame in the stream's
// input format that is not packed: `top` is the picture's top row and
// `stride` the bytes from one row to the next one down (negative for rows
// stored bottom-up). Rows are read where they lie; a screen grab reaches
// the encoder, or the file, without being packed and turned over first.
HRESULT AVIStreamWriteRows(PAVISTREAM pavi, LONG lStart, const void* top, std::ptrdiff_t stride, DWORD dwFlags);
// Kestrel's own, for callers that need not find each frame in the file the
// moment AVIStreamWrite returns (a build from files, a recorder writing on
// a thread of its own): with overlap on, a compressing stream converts a
// frame's pixels while the frame before it compresses on another core, and
// AVIStreamWrite writes that earlier frame (its result is the earlier
// frame's, plBytesWritten stays 0). Set before the format, it also lets
// the encoder hold a few frames (frame threads) where every frame is a key
// frame.
// AVIStreamFlush writes the frame still compressing and returns its
// result; the release does the same without one. Other streams take both
// calls and have nothing to do.
HRESULT AVIStreamSetOverlap(PAVISTREAM pavi, BOOL on);
// Kestrel's own, set before the format by a caller whose frames come at the
// stream's rate (a live recording) rather than as fast as they can be
// made (a build from files): an encoder with frame threads then runs only
// as many as that rate needs, since each holds frames and buffers of its
// own. Streams without a compressor take it and have nothing to do.
HRESULT AVIStreamSetPaced(PAVISTREAM pavi, BOOL on);
// The stream's length in frames (sample frames for sound): those in the file so far (a compressing
// stream's frames still held by the encoder are not). -1 without a stream.
LONG AVIStreamLength(PAVISTREAM pavi);
HRESULT AVIStreamFlush(PAVISTREAM pavi);
unsigned long AVIStreamRelease(PAVISTREAM pavi);
unsigned long AVIFileRelease(PAVIFILE pfile);
// Kestrel's own. AVIFileComplete writes the file's last indexes and headers
// now, which the last release would otherwise do, so that a caller learns
// whether the file was completed: AVIERR_OK, or AVIERR_FILEWRITE when any
// of that (or a sync of the file to the disk) failed. The file takes no
// frames afterwards and the release writes nothing more; a second call
// returns the first one's result. Frames lost to an earlier failed write
// were reported by that write.
HRESULT AVIFileComplete(PAVIFILE pfile);
// The errno of the first write, sync or truncation of the file that failed
// (ENOSPC, EFBIG, EIO, ...); 0 while none has.
int AVIFileLastErrno(PAVIFILE pfile);
// Kestrel's own, for a file written at a steady rate and not read while it
// grows (a live recording): its frames go to the disk past the page cache
// (O_DIRECT) where the file system allows, which costs a fraction of the
// CPU of copying them into the cache and writing that back. Set before
// the first stream's format; AVIERR_UNSUPPORTED after it. Off by default:
// a build from files finishes sooner with the kernel writing behind it.
HRESULT AVIFileSetDirectWrites(PAVIFILE pfile, BOOL on);
HRESULT AVISaveOptionsFree(int nStreams, LPAVICOMPRESSOPTIONS* plpOptions);

// The compressor-choice dialog: modal, with the caller's title.
BOOL ICCompressorChoose(void* hwnd, UINT uiFlags, const void* pvIn, const void* lpData, COMPVARS* pc,
                        const char* lpszTitle);
// Kestrel's own: the same for frames that will be recorded at
// `framesPerSecond` (0: not known), so that the dialog can say how large a
// minute of recording comes out.
BOOL ICCompressorChooseAtRate(void* hwnd, UINT uiFlags, const void* pvIn, const void* lpData, COMPVARS* pc,
                              const char* lpszTitle, int framesPerSecond);

}  // namespace vfw
