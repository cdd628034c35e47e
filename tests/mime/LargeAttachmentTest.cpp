// A 1 GiB attachment, composed while it is read, decoded by Python's email package to the
// file's own SHA-256. In its own executable and labelled "large": it takes about a minute.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

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
    ASSERT_EQ(::ftruncate(fd, size), 0);
    for (int64_t at : {int64_t{0}, size / 3 + 1, size - 1000001})
        ASSERT_EQ(::pwrite(fd, RandomBytes(1000001, 1).data(), 1000001, at), 1000001);
    ::close(fd);
    TPostMessage m;
    m.Attachments().Add(path);
    TMessageComposer composer;
    TExStringList header;
    std::string boundary;
    TMessageBodyStream body;
    composer.ComposeMessage(m, mtPlain, uuMime, header, boundary, body);

    const std::string cmd =
        std::string(QUILLCAST_PYTHON) + " " + MIME_TEST_DIR + "/hash_parts.py " + path + " >" + dir.File("hashes.txt");
    FILE* p = popen(cmd.c_str(), "w");
    std::string buf = header.Text() + "\r\n";
    std::fwrite(buf.data(), 1, buf.size(), p);
    buf.resize(262128);
    for (int32_t n; (n = body.Read(buf.data(), static_cast<int32_t>(buf.size()))) > 0;)
        std::fwrite(buf.data(), 1, static_cast<size_t>(n), p);
    ASSERT_EQ(pclose(p), 0) << cmd;
    const std::string hashes = dir.Read("hashes.txt");  // "part <sha>" then "file <sha>"
    ASSERT_EQ(hashes.size(), 140u) << hashes;
    EXPECT_EQ(hashes.substr(5, 64), hashes.substr(75, 64)) << hashes;
}
