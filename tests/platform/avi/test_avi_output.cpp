// links: tavrec_platform_avi tavrec_support_MediaProbe
//
// The AVI writer's file hands the kernel pieces of bounded size: what reaches the
// disk must be every byte appended, in order, whatever the pieces cut through, and a
// refused write must still say exactly how far the file got.
#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/avi/AviOutput.h"
#include "tests/support/MediaProbe.h"

// The largest single write the process made, seen by standing in front of libc's
// writev (the writer is linked into this program, so its calls land here first).
std::atomic<size_t> largestWritev{0};

extern "C" ssize_t writev(int fd, const struct iovec* iov, int count)
{
    using Writev = ssize_t (*)(int, const struct iovec*, int);
    static const Writev real = reinterpret_cast<Writev>(::dlsym(RTLD_NEXT, "writev"));
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += iov[i].iov_len;
    size_t seen = largestWritev.load();
    while (total > seen && !largestWritev.compare_exchange_weak(seen, total)) {
    }
    return real(fd, iov, count);
}

namespace {

using platform::AviOutput;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(seed + i * 7 + (i >> 11));
    return bytes;
}

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Small appends that stay in the buffer, large ones that go straight to the file, and
// fills, mixed so that a piece boundary falls inside each kind and between buffer and
// direct data; pieces of an odd size, of the buffer's size and of the default.
TEST(AviOutput, PiecesKeepEveryByteInOrder)
{
    for (size_t piece : {size_t(4093), size_t(1) << 20, AviOutput::kWritePiece}) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        testkit::TempDir dir;
        ASSERT_FALSE(dir.Path().empty());
        const std::string path = dir.File("out.avi");
        std::vector<uint8_t> expected;
        AviOutput out(piece);
        ASSERT_TRUE(out.Open(path)) << out.LastError();
        const size_t sizes[] = {12, 300000, 5, 8294400, 70000, 1, 2500000, 33};
        uint8_t seed = 1;
        for (size_t size : sizes) {
            const std::vector<uint8_t> data = Pattern(size, seed++);
            ASSERT_TRUE(out.Append(data.data(), data.size())) << out.LastError();
            expected.insert(expected.end(), data.begin(), data.end());
            ASSERT_TRUE(out.AppendFill(0xA5, size % 5000)) << out.LastError();
            expected.insert(expected.end(), size % 5000, 0xA5);
            EXPECT_EQ(out.Position(), expected.size());
        }
        ASSERT_TRUE(out.Close()) << out.LastError();
        const std::vector<uint8_t> written = ReadAll(path);
        ASSERT_EQ(written.size(), expected.size());
        EXPECT_TRUE(written == expected);
    }
}

// A whole uncompressed 1080p frame is handed to the kernel in pieces, never at once:
// one large copy into the page cache costs many times the same bytes in pieces.
TEST(AviOutput, NoWriteIsLargerThanAPiece)
{
    testkit::TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::vector<uint8_t> frame = Pattern(1920 * 1080 * 4, 3);
    AviOutput out;
    ASSERT_TRUE(out.Open(dir.File("frames.avi"))) << out.LastError();
    largestWritev = 0;
    const uint8_t header[8] = {'0', '0', 'd', 'b', 0, 0x90, 0x7e, 0};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(out.Append(header, sizeof header)) << out.LastError();
        ASSERT_TRUE(out.Append(frame.data(), frame.size())) << out.LastError();
    }
    ASSERT_TRUE(out.Close()) << out.LastError();
    EXPECT_GT(largestWritev.load(), 0u) << "the writer's writes were not seen";
    EXPECT_LE(largestWritev.load(), AviOutput::kWritePiece);
}

// Under a file size limit that falls inside a piece, the append that meets it fails,
// DiskEnd() is the limit to the byte, and what is on disk is the data's start.
TEST(AviOutput, RefusedWriteInsideAPieceReportsHowFarTheFileGot)
{
    testkit::TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string path = dir.File("limited.avi");
    const rlim_t limit = 3 * AviOutput::kWritePiece + 12345;
    const std::vector<uint8_t> data = Pattern(8294400, 9);

    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
            ::_exit(2);
        AviOutput out;
        if (!out.Open(path))
            ::_exit(3);
        const bool appended = out.Append(data.data(), data.size());
        const uint64_t values[2] = {appended ? 1u : 0u, out.DiskEnd()};
        ::_exit(::write(report[1], values, sizeof values) == ssize_t(sizeof values) ? 0 : 4);
    }
    ::close(report[1]);
    uint64_t values[2] = {9, 0};
    const ssize_t got = ::read(report[0], values, sizeof values);
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    ASSERT_EQ(got, ssize_t(sizeof values));
    EXPECT_EQ(values[0], 0u) << "the append past the limit succeeded";
    EXPECT_EQ(values[1], uint64_t(limit));
    const std::vector<uint8_t> written = ReadAll(path);
    ASSERT_EQ(written.size(), size_t(limit));
    EXPECT_TRUE(std::equal(written.begin(), written.end(), data.begin()));
}

}  // namespace
