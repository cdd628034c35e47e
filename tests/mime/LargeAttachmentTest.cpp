// A 1 GiB attachment, composed while it is read, decoded by Python's email package to the
// file's own SHA-256. In its own executable and labelled "large": it takes some seconds.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "TestStreams.h"
#include "mime/MessageComposer.h"
#include "support/TempDir.h"

TEST(LargeAttachment, AGigabyteDecodesToTheSameSha256)
{
    TTempDir dir;
    const std::string path = dir.File("big.bin");
    // Sparse, with random blocks at the start, inside and at the odd-sized end.
    const int64_t size = (int64_t{1} << 30) + 7;
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    for (int64_t at : {int64_t{0}, size / 3 + 1, size - 1000001}) {
        const std::string block = RandomBytes(1000001, static_cast<unsigned>(at));
        ASSERT_EQ(::pwrite(fd, block.data(), block.size(), at), static_cast<ssize_t>(block.size()));
    }
    ::close(fd);

    TPostMessage m;
    m.SetFromAddress("a@example.org");
    m.Body().Add("See the file.");
    m.Attachments().Add(path);
    TMessageComposer composer;
    TExStringList header;
    std::string boundary;
    TMessageBodyStream body;
    composer.ComposeMessage(m, mtPlain, uuMime, header, boundary, body);

    const std::string out = dir.File("hashes.txt");
    const std::string cmd = std::string(QUILLCAST_PYTHON) + " " + MIME_TEST_DIR + "/hash_parts.py " + path + " >" + out;
    FILE* p = popen(cmd.c_str(), "w");
    ASSERT_NE(p, nullptr);
    const std::string head = header.Text() + "\r\n";
    std::fwrite(head.data(), 1, head.size(), p);
    std::string buf(262128, '\0');
    int64_t total = 0;
    for (int32_t n; (n = body.Read(buf.data(), static_cast<int32_t>(buf.size()))) > 0; total += n)
        ASSERT_EQ(std::fwrite(buf.data(), 1, static_cast<size_t>(n), p), static_cast<size_t>(n));
    ASSERT_EQ(pclose(p), 0) << cmd;
    EXPECT_EQ(total, body.Size());
    const std::string hashes = dir.Read("hashes.txt");
    ASSERT_EQ(hashes.size(), 2 * (5 + 64 + 1)) << hashes;
    EXPECT_EQ(hashes.substr(5, 64), hashes.substr(70 + 5, 64)) << hashes;
}
