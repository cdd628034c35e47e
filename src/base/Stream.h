#pragma once
// Byte streams: the abstract stream (position and size derived from Seek), an in-memory
// stream and a file stream. Read/Write return the bytes moved; ReadBuffer/WriteBuffer
// raise EReadError "Stream read error" / EWriteError "Stream write error" on a short move.
#include <cstdint>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "Component.h"

enum TSeekOrigin : uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream : public TObject {
public:
    virtual int32_t Read(void* Buffer, int32_t Count) = 0;
    virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
    // Origin 0: from the beginning; 1: from the current position; 2: from the end
    // (the offset is normally zero or negative there, as a position is end + Offset).
    virtual int64_t Seek(int64_t Offset, uint16_t Origin) = 0;

    int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(int64_t Pos) { Seek(Pos, soFromBeginning); }
    int64_t Size();

    void ReadBuffer(void* Buffer, int64_t Count);
    void WriteBuffer(const void* Buffer, int64_t Count);
    void WriteString(const std::string& s) { WriteBuffer(s.data(), static_cast<int64_t>(s.size())); }
    // Copies Count bytes from Source's current position; Count 0 copies all of Source
    // from its beginning. Returns the bytes copied.
    int64_t CopyFrom(TStream& Source, int64_t Count);
};

// Memory of in-memory streams. Grown bytes are not zeroed (a write overwrites them at
// once), and large blocks ask the system for huge pages: touching a fresh 70 MB message
// body page by page costs several times more than encoding it.
void* StreamMemoryAllocate(size_t Bytes);
void StreamMemoryFree(void* Block, size_t Bytes) noexcept;

template <class T>
struct TStreamAllocator {
    using value_type = T;
    TStreamAllocator() = default;
    template <class U>
    TStreamAllocator(const TStreamAllocator<U>&) noexcept
    {
    }
    T* allocate(size_t n) { return static_cast<T*>(StreamMemoryAllocate(n * sizeof(T))); }
    void deallocate(T* p, size_t n) noexcept { StreamMemoryFree(p, n * sizeof(T)); }
    template <class U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... a)
    {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
    template <class U>
    bool operator==(const TStreamAllocator<U>&) const noexcept
    {
        return true;
    }
};

class TMemoryStream : public TStream {
public:
    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, uint16_t Origin) override;

    const char* Memory() const { return FData.data(); }
    char* Memory() { return FData.data(); }
    // Known without the three seeks of the general Size.
    int64_t Size() const { return static_cast<int64_t>(FData.size()); }
    void SetSize(int64_t NewSize);
    void Clear()
    {
        FData.clear();
        FPos = 0;
    }
    void Reserve(int64_t Capacity) { FData.reserve(static_cast<size_t>(Capacity)); }
    std::string DataString() const { return std::string(FData.data(), FData.size()); }
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName);

private:
    std::vector<char, TStreamAllocator<char>> FData;
    int64_t FPos = 0;
};

enum TFileMode { fmOpenRead, fmOpenReadWrite, fmCreate };

class TFileStream : public TStream {
public:
    // fmOpenRead / fmOpenReadWrite raise EFOpenError "Cannot open file %s";
    // fmCreate truncates or creates and raises EFCreateError "Cannot create file %s".
    TFileStream(const std::string& FileName, TFileMode Mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, uint16_t Origin) override;
    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    int FHandle = -1;
};

// Writes Data to a temporary file beside FileName and renames it over FileName, so a
// failed save never destroys the file it replaces. Raises EFCreateError / EWriteError.
void SaveFileAtomically(const std::string& FileName, const std::string& Data);
// The whole file as bytes; raises EFOpenError / EReadError.
std::string ReadWholeFile(const std::string& FileName);
