// The attachment path: bytes -> TUUProcessor (base64) -> TS_BufferStream -> TMemoryStream.
// Also the whole composition of a message with one such attachment.
// Input: the file named by QUILLCAST_BENCH_INPUT, or 50 MB of random bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "base/Stream.h"
#include "mime/MessageComposer.h"
#include "mime/S_BufferStream.h"
#include "mime/UUProcessor.h"

namespace {

TMemoryStream& Input()
{
    static TMemoryStream in = [] {
        TMemoryStream s;
        if (const char* path = std::getenv("QUILLCAST_BENCH_INPUT")) {
            s.LoadFromFile(path);
        } else {
            std::mt19937_64 gen(42);
            s.SetSize(50 * 1000 * 1000);
            for (int64_t i = 0; i + 8 <= s.Size(); i += 8) {
                const uint64_t v = gen();
                std::memcpy(s.Memory() + i, &v, 8);
            }
        }
        return s;
    }();
    return in;
}

void BM_EncodeBase64(benchmark::State& state)
{
    TMemoryStream& in = Input();
    TMemoryStream out;
    // Sized once for the encoded text, as the composer sizes the body before encoding.
    out.Reserve(in.Size() / 45 * 62 + 64);
    for (auto _ : state) {
        out.Clear();  // keeps its memory, as a body stream reused between messages does
        TS_BufferStream buffered(out);
        TUUProcessor encoder;
        encoder.SetMethod(uuMime);
        encoder.SetInputStream(&in);
        encoder.SetOutputStream(&buffered);
        encoder.Encode();
        benchmark::DoNotOptimize(out.Memory());
    }
    const double bytes = static_cast<double>(in.Size()) * static_cast<double>(state.iterations());
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["out_bytes"] = static_cast<double>(out.Size());
}
BENCHMARK(BM_EncodeBase64)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole composition of a message with that input as its one attachment file: into
// memory (kept across messages), or as the body the SMTP client sends, read in the pieces
// the transport asks for.
template <bool Streamed>
void BM_ComposeAttachment(benchmark::State& state)
{
    TMemoryStream& in = Input();
    char dir[] = "/tmp/mimebench.XXXXXX";
    const std::string path = std::string(mkdtemp(dir)) + "/attachment.bin";
    in.SaveToFile(path);
    TPostMessage msg;
    msg.SetFromAddress("bench@example.org");
    msg.ToAddress().Add("rcpt@example.org");
    msg.Body().Add("See the attachment.");
    msg.Attachments().Add(path);
    TMessageComposer composer;
    TExStringList header;
    std::string boundary;
    TMemoryStream body;
    TMessageBodyStream stream;
    std::string piece(262128, '\0');
    int64_t out = 0;
    for (auto _ : state) {
        if (!Streamed) {
            composer.ComposeMessage(msg, mtPlain, uuMime, header, boundary, body);
            benchmark::DoNotOptimize(body.Memory());
            out = body.Size();
            continue;
        }
        composer.ComposeMessage(msg, mtPlain, uuMime, header, boundary, stream);
        out = 0;
        for (int32_t n; (n = stream.Read(piece.data(), static_cast<int32_t>(piece.size()))) > 0;) out += n;
        benchmark::DoNotOptimize(piece.data());
    }
    std::remove(path.c_str());
    std::remove(dir);
    const double bytes = static_cast<double>(in.Size()) * static_cast<double>(state.iterations());
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    state.counters["out_bytes"] = static_cast<double>(out);
}
BENCHMARK(BM_ComposeAttachment<false>)->Name("BM_ComposeAttachment")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ComposeAttachment<true>)->Name("BM_StreamAttachment")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
