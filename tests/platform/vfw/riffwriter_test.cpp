// The RIFF writer on its own: where chunks land, what the sizes on disk say
// after each step, and what a failed write leaves.
#include <gtest/gtest.h>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/vfw/avitesting.h"
#include "platform/vfw/riffwriter.h"
#include "support/tempdir.h"
#include "support/riffread.h"

using namespace avitest;
using vfw::detail::createFile;
using vfw::detail::RiffWriter;
using vfw::detail::tag;

namespace {

std::vector<std::uint8_t> filled(std::size_t n, std::uint8_t v) { return std::vector<std::uint8_t>(n, v); }

std::vector<std::string> paths(const std::vector<Chunk>& cs) {
  std::vector<std::string> out;
  for (const auto& c : cs) out.push_back(c.path);
  return out;
}

}  // namespace

TEST(RiffWriter, LaysOutRiffsAndKeepsTheirSizesCurrent) {
  testsupport::TempDir dir;
  const std::string path = dir.file("w.avi");
  vfw::testing::setRiffSizeLimit(4000);  // read when the writer is made
  RiffWriter w(createFile(path.c_str()));
  vfw::testing::setRiffSizeLimit(0);
  EXPECT_FALSE(w.started());

  // A made-up header list; the writer puts it at kListsPos and aligns the
  // first chunk on 2048 bytes after it, whatever its length.
  std::vector<std::uint8_t> lists = {'L', 'I', 'S', 'T', 94, 0, 0, 0, 'h', 'd', 'r', 'l', 'J', 'U', 'N', 'K', 82};
  lists.resize(102, 0);
  ASSERT_TRUE(w.start(lists));
  EXPECT_TRUE(w.started());
  const auto first = w.appendChunk(tag("00db"), filled(1001, 7));  // odd: padded
  ASSERT_TRUE(first);
  EXPECT_EQ(*first % 2048, 0u);
  EXPECT_EQ(w.pos(), *first + 8 + 1002);
  EXPECT_FALSE(w.riffFull());

  // A checkpoint makes the open RIFF and movi cover every chunk so far and
  // rewrites the fields it is given.
  const RiffWriter::Field field{RiffWriter::kListsPos + 20, {1, 2, 3, 4}};
  ASSERT_TRUE(w.checkpoint({&field, 1}));
  {
    const auto b = readFile(path);
    EXPECT_EQ(u32(b, 4), w.pos() - 8);
    EXPECT_EQ(u32(b, w.moviFourcc() - 4), w.pos() - w.moviFourcc());
    EXPECT_EQ(u32(b, RiffWriter::kListsPos + 20), 0x04030201u);
  }

  // Past the limit: the caller closes the RIFF around an index, the next
  // RIFF is an AVIX, and the last update covers its chunks.
  ASSERT_TRUE(w.appendChunk(tag("00db"), filled(2000, 8)));
  EXPECT_TRUE(w.riffFull());
  const std::vector<std::uint8_t> index = {'i', 'x', '0', '0', 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_TRUE(w.append(index));
  ASSERT_TRUE(w.closeMovi());
  ASSERT_TRUE(w.closeRiff({}));
  ASSERT_TRUE(w.openAvix());
  EXPECT_FALSE(w.riffFull());
  ASSERT_TRUE(w.appendChunk(tag("00db"), filled(10, 9)));
  w.finish(w.pos(), {});

  const auto b = readFile(path);
  EXPECT_EQ(b.size(), w.pos());
  const auto cs = chunks(b);
  const std::vector<std::string> shape = {"/RIFF:AVI ",           "/RIFF:AVI /LIST:hdrl", "/RIFF:AVI /LIST:hdrl/JUNK",
                                          "/RIFF:AVI /JUNK",      "/RIFF:AVI /LIST:movi", "/RIFF:AVI /LIST:movi/ix00",
                                          "/RIFF:AVIX",           "/RIFF:AVIX/LIST:movi"};
  EXPECT_EQ(paths(cs), shape);
  // Each RIFF ends where the next begins; the last one at the end of the file.
  const Chunk* avix = find(cs, "RIFF:AVIX");
  ASSERT_TRUE(avix);
  EXPECT_EQ(cs.front().pos + 8 + cs.front().size, avix->pos);
  EXPECT_EQ(avix->pos + 8 + avix->size, b.size());
}

TEST(RiffWriter, AFailedWriteIsRememberedAndMovesNothing) {
  testsupport::TempDir dir;
  const std::string path = dir.file("ro.avi");
  ASSERT_EQ(::close(::open(path.c_str(), O_WRONLY | O_CREAT, 0644)), 0);
  RiffWriter w(::open(path.c_str(), O_RDONLY | O_CLOEXEC));  // every write fails
  EXPECT_FALSE(w.start(std::vector<std::uint8_t>(20, 0)));
  EXPECT_TRUE(w.failed());
  EXPECT_EQ(w.lastErrno(), EBADF);  // the first failure's reason, kept
  EXPECT_FALSE(w.started());
  EXPECT_FALSE(w.appendChunk(tag("00db"), filled(4, 1)));
  EXPECT_FALSE(w.append(filled(4, 1)));
  EXPECT_EQ(w.pos(), 0u);

  // A FIFO (with no reader) or a folder is no file to patch in place.
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_EQ(createFile(fifo.c_str()), -1);
  EXPECT_EQ(createFile(dir.path().toStdString().c_str()), -1);
}

namespace {

// One file through every kind of append and in-place rewrite, with chunks
// larger than the writer's buffer given in rows that stop short of it.
// Returns the file's bytes; `direct` asks for direct writes and tells
// whether they were had.
std::vector<std::uint8_t> writeSample(const std::string& path, bool& direct) {
  vfw::testing::setRiffSizeLimit(8u << 20);
  RiffWriter w(createFile(path.c_str()));
  vfw::testing::setRiffSizeLimit(0);
  EXPECT_FALSE(w.writesDirect()) << "the page cache unless asked";
  EXPECT_TRUE(w.setDirectWrites(direct));
  std::vector<std::uint8_t> lists(102, 3);
  EXPECT_TRUE(w.start(lists));
  EXPECT_FALSE(w.setDirectWrites(!direct)) << "not once started";
  direct = w.writesDirect();
  for (std::uint32_t n : {1001u, 4096u, 4095u, 7u}) EXPECT_TRUE(w.appendChunk(tag("00dc"), filled(n, std::uint8_t(n))));
  // The file holds every byte appended so far, whatever waits in the buffer.
  const auto at = w.appendChunk(tag("00dc"), filled(3, 0xAB));
  EXPECT_TRUE(at);
  auto now = readFile(path);
  EXPECT_GE(now.size(), w.pos());
  EXPECT_EQ(now[*at + 8], 0xAB);
  EXPECT_EQ(now[*at + 10], 0xAB);

  // 9 MB in rows of 3000 bytes, each row its own value.
  const std::uint32_t rows = 3000, rowBytes = 3000;
  std::uint32_t row = 0;
  EXPECT_TRUE(w.appendChunk(tag("00db"), rows * rowBytes, [&](std::span<std::uint8_t> room) {
    const std::size_t n = std::min<std::size_t>(room.size() / rowBytes, rows - row);
    for (std::size_t r = 0; r < n; ++r) std::fill_n(room.data() + r * rowBytes, rowBytes, std::uint8_t(row + r));
    row += std::uint32_t(n);
    return n * rowBytes;
  }));
  const RiffWriter::Field field{RiffWriter::kListsPos + 4, {9, 8, 7, 6}};
  EXPECT_TRUE(w.checkpoint({&field, 1}));
  // A new RIFF whose sizes are rewritten while its header still waits in
  // the buffer.
  EXPECT_TRUE(w.riffFull());
  EXPECT_TRUE(w.closeMovi());
  EXPECT_TRUE(w.closeRiff({}));
  EXPECT_TRUE(w.openAvix());
  EXPECT_TRUE(w.checkpoint({}));
  EXPECT_TRUE(w.appendChunk(tag("00dc"), filled(5000, 5)));
  EXPECT_TRUE(w.append(std::vector<std::uint8_t>{'i', 'd', 'x', '1', 0, 0, 0, 0}));
  EXPECT_TRUE(w.finish(w.pos(), {&field, 1}));
  EXPECT_FALSE(w.failed());
  return readFile(path);
}

bool directWritesWork(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_DIRECT, 0644);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

}  // namespace

TEST(RiffWriter, DirectAndCachedWritesMakeTheSameFile) {
  testsupport::TempDir dir;
  bool direct = true, cachedDirect = false;
  const auto a = writeSample(dir.file("direct.avi"), direct);
  const auto b = writeSample(dir.file("cached.avi"), cachedDirect);
  EXPECT_EQ(direct, directWritesWork(dir.file("probe")));
  EXPECT_FALSE(cachedDirect);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_TRUE(a == b);
  // The 9 MB chunk's rows landed in order.
  const std::uint8_t head[] = {'0', '0', 'd', 'b', 0x40, 0x54, 0x89, 0x00};  // 9,000,000 bytes
  const auto big = std::search(a.begin(), a.end(), std::begin(head), std::end(head));
  ASSERT_NE(big, a.end());
  const std::size_t data = std::size_t(big - a.begin()) + 8;
  for (std::uint32_t r : {0u, 1u, 1397u, 2999u}) EXPECT_EQ(a[data + r * 3000 + 2999], std::uint8_t(r));
}

TEST(RiffWriter, AFillThatGivesNothingFailsTheChunk) {
  testsupport::TempDir dir;
  RiffWriter w(createFile(dir.file("f.avi").c_str()));
  ASSERT_TRUE(w.start(std::vector<std::uint8_t>(20, 0)));
  const std::uint64_t before = w.pos();
  EXPECT_FALSE(w.appendChunk(tag("00db"), 100, [](std::span<std::uint8_t>) { return std::size_t(0); }));
  EXPECT_TRUE(w.failed());
  EXPECT_EQ(w.lastErrno(), EINVAL);
  EXPECT_EQ(w.pos(), before);
}
