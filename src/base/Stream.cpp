#include "Stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Exception.h"

int64_t TStream::Size()
{
    const int64_t pos = Seek(0, soFromCurrent);
    const int64_t end = Seek(0, soFromEnd);
    Seek(pos, soFromBeginning);
    return end;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count)
{
    auto* p = static_cast<char*>(Buffer);
    while (Count > 0) {
        const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(Count, 1 << 30));
        const int32_t n = Read(p, chunk);
        if (n != chunk) throw EReadError("Stream read error");
        p += n;
        Count -= n;
    }
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count)
{
    auto* p = static_cast<const char*>(Buffer);
    while (Count > 0) {
        const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(Count, 1 << 30));
        const int32_t n = Write(p, chunk);
        if (n != chunk) throw EWriteError("Stream write error");
        p += n;
        Count -= n;
    }
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count)
{
    if (Count == 0) {
        Source.SetPosition(0);
        Count = Source.Size();
    }
    const int64_t total = Count;
    std::vector<char> buf(static_cast<size_t>(std::min<int64_t>(Count, 1 << 20)) + 1);
    while (Count > 0) {
        const int64_t n = std::min<int64_t>(Count, static_cast<int64_t>(buf.size()));
        Source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        Count -= n;
    }
    return total;
}

// ---- TMemoryStream

namespace {
constexpr size_t HugePage = size_t{2} << 20;
constexpr size_t LargeBlock = 2 * HugePage;
}  // namespace

void* StreamMemoryAllocate(size_t Bytes)
{
    if (Bytes < LargeBlock) return ::operator new(Bytes);
    const size_t rounded = (Bytes + HugePage - 1) / HugePage * HugePage;
    void* p = std::aligned_alloc(HugePage, rounded);
    if (!p) throw std::bad_alloc();
    ::madvise(p, rounded, MADV_HUGEPAGE);  // advice only; a refusal changes nothing
    return p;
}

void StreamMemoryFree(void* Block, size_t Bytes) noexcept
{
    if (Bytes < LargeBlock)
        ::operator delete(Block);
    else
        std::free(Block);
}

int32_t TMemoryStream::Read(void* Buffer, int32_t Count)
{
    const int64_t avail = static_cast<int64_t>(FData.size()) - FPos;
    if (Count <= 0 || avail <= 0) return 0;
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(Count, avail));
    std::memcpy(Buffer, FData.data() + FPos, static_cast<size_t>(n));
    FPos += n;
    return n;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count)
{
    if (Count <= 0) return 0;
    const int64_t end = FPos + Count;
    if (end > static_cast<int64_t>(FData.size())) {
        // Grow geometrically: appending line by line must stay linear.
        if (end > static_cast<int64_t>(FData.capacity()))
            FData.reserve(std::max<size_t>(static_cast<size_t>(end), FData.capacity() * 2));
        const size_t old = FData.size();
        FData.resize(static_cast<size_t>(end));
        // A write past the end leaves a gap of zeros, not stale memory.
        if (FPos > static_cast<int64_t>(old)) std::memset(FData.data() + old, 0, static_cast<size_t>(FPos) - old);
    }
    std::memcpy(FData.data() + FPos, Buffer, static_cast<size_t>(Count));
    FPos = end;
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, uint16_t Origin)
{
    switch (Origin) {
    case soFromBeginning: FPos = Offset; break;
    case soFromCurrent: FPos += Offset; break;
    case soFromEnd: FPos = static_cast<int64_t>(FData.size()) + Offset; break;
    default: throw Exception(Format("Invalid seek origin = %d", Origin));
    }
    if (FPos < 0) FPos = 0;
    return FPos;
}

void TMemoryStream::SetSize(int64_t NewSize)
{
    const size_t old = FData.size();
    FData.resize(static_cast<size_t>(std::max<int64_t>(NewSize, 0)));
    if (FData.size() > old) std::memset(FData.data() + old, 0, FData.size() - old);
    FPos = std::min<int64_t>(FPos, static_cast<int64_t>(FData.size()));
}

void TMemoryStream::LoadFromFile(const std::string& FileName)
{
    const std::string data = ReadWholeFile(FileName);
    FData.assign(data.begin(), data.end());
    FPos = 0;
}

void TMemoryStream::SaveToFile(const std::string& FileName) { SaveFileAtomically(FileName, DataString()); }

// ---- TFileStream

TFileStream::TFileStream(const std::string& FileName, TFileMode Mode) : FFileName(FileName)
{
    if (Mode == fmCreate) {
        FHandle = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (FHandle < 0) throw EFCreateError(Format("Cannot create file %s", FileName.c_str()));
    } else {
        FHandle = ::open(FileName.c_str(), (Mode == fmOpenRead ? O_RDONLY : O_RDWR) | O_CLOEXEC);
        if (FHandle < 0) throw EFOpenError(Format("Cannot open file %s", FileName.c_str()));
    }
}

TFileStream::~TFileStream()
{
    if (FHandle >= 0) ::close(FHandle);
}

int32_t TFileStream::Read(void* Buffer, int32_t Count)
{
    if (Count <= 0) return 0;
    ssize_t n;
    do n = ::read(FHandle, Buffer, static_cast<size_t>(Count));
    while (n < 0 && errno == EINTR);
    return static_cast<int32_t>(n);  // -1 on failure, as the class library reports it
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count)
{
    if (Count <= 0) return 0;
    auto* p = static_cast<const char*>(Buffer);
    int32_t done = 0;
    while (done < Count) {
        const ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(Count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done > 0 ? done : static_cast<int32_t>(n);
        done += static_cast<int32_t>(n);
    }
    return done;
}

int64_t TFileStream::Seek(int64_t Offset, uint16_t Origin)
{
    int whence;
    switch (Origin) {
    case soFromBeginning: whence = SEEK_SET; break;
    case soFromCurrent: whence = SEEK_CUR; break;
    case soFromEnd: whence = SEEK_END; break;
    default: throw Exception(Format("Invalid seek origin = %d", Origin));
    }
    return static_cast<int64_t>(::lseek(FHandle, static_cast<off_t>(Offset), whence));
}

// ---- whole files

void SaveFileAtomically(const std::string& FileName, const std::string& Data)
{
    const std::string tmp = FileName + ".tmp~";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) throw EFCreateError(Format("Cannot create file %s", FileName.c_str()));
    size_t done = 0;
    bool ok = true;
    while (done < Data.size()) {
        const ssize_t n = ::write(fd, Data.data() + done, Data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), FileName.c_str()) != 0) {
        ::unlink(tmp.c_str());
        throw EWriteError("Stream write error");
    }
}

std::string ReadWholeFile(const std::string& FileName)
{
    TFileStream f(FileName, fmOpenRead);
    std::string data;
    // The text is read to its end whatever the size says (a pipe or a /proc file has
    // none), but a known size spares growing it step by step, a copy at every step.
    if (const int64_t size = f.Size(); size > 0) data.reserve(static_cast<size_t>(size));
    char buf[65536];
    for (;;) {
        const int32_t n = f.Read(buf, sizeof buf);
        if (n < 0) throw EReadError("Stream read error");
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}
