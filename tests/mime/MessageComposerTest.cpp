#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "TestStreams.h"
#include "base/Exception.h"
#include "mime/MessageComposer.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// The header block, the empty line and the body, composed in memory into a header and a
// body that already held something (the composer must empty them first).
std::string Compose(const TPostMessage& msg, TSubType sub, TMessageComposer& composer, std::string& boundary)
{
    TExStringList header;
    header.Add("stale line");
    TMemoryStream body;
    body.WriteString("stale body");
    composer.ComposeMessage(msg, sub, uuMime, header, boundary, body);
    return header.Text() + "\r\n" + body.DataString();
}

// The streamed body, read in pieces of Piece bytes.
std::string ReadAll(TStream& s, int32_t Piece)
{
    std::string out, buf(static_cast<size_t>(Piece), '\0');
    for (int32_t n; (n = s.Read(buf.data(), Piece)) > 0;) out.append(buf.data(), static_cast<size_t>(n));
    return out;
}

}  // namespace

// Header lines in their forms and order (no Bcc), the subtype in the content type; no
// value may start a line of its own. With attachments the message is multipart whatever
// the subtype: the text part (non-ASCII text is sent as 8-bit UTF-8; lines are dot-stuffed,
// and an entry holding line breaks is lines of their own, so its "." cannot end the data),
// one part per file named by its last path element, the closing delimiter. A missing file
// and a directory alike are reported after the events of the files before them, then
// raised as an open failure.
TEST(MessageComposer, HeaderLinesPartsAndMissingFiles)
{
    std::vector<std::string> events;
    TMessageComposer composer;
    composer.OnEncodeStart = [&](const std::string& f) { events.push_back("start " + f); };
    composer.OnEncodeEnd = [&](const std::string& f) { events.push_back("end " + f); };
    composer.OnAttachmentNotFound = [&](const std::string& f) { events.push_back("missing " + f); };
    std::string b;
    TPostMessage m;
    m.SetFromName("Ann Smith");
    m.SetFromAddress("ann@x.org");
    for (const char* to : {"b@x.org", "Bob <c@x.org>", " d@x.org"}) m.ToAddress().Add(to);
    m.ToCarbonCopy().Add("e@x.org");
    m.ToBlindCarbonCopy().Add("hidden@x.org");
    m.SetSubject("Hi");
    m.SetLocalProgram("Created by Veskor");
    m.SetReplyTo("r@x.org");
    m.SetDate("Sun, 06 Dec 2026 10:00:00 +0000");
    EXPECT_EQ(Compose(m, mtHtml, composer, b),
              "From: Ann Smith<ann@x.org>\r\nTo: b@x.org,Bob <c@x.org>, d@x.org\r\nCC: e@x.org\r\nSubject: Hi\r\n"
              "X-Mailer: Created by Veskor\r\nReply-To: r@x.org\r\nDate: Sun, 06 Dec 2026 10:00:00 +0000\r\n"
              "Mime-Version: 1.0\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n");

    TTempDir dir;
    TPostMessage bare;
    bare.ToCarbonCopy().Add("x@y");
    bare.ToCarbonCopy().Add("z@y\r\nBcc: v@y");
    bare.SetDate(std::string("D\nX-Evil: 1\0", 12));
    for (const char* line : {"Привет", ".", "..a", " .x", "", ".end", "x\r.\ny\r\n"}) bare.Body().Add(line);
    const std::string hello = dir.Write("sub/h.txt", "Hello, world!\n");
    bare.Attachments().Add(hello);
    const std::string composed = Compose(bare, mtHtml, composer, b);
    EXPECT_TRUE(std::regex_match(b, std::regex("={20}54535[^=]*\\d\\d[^=]*===="))) << b;
    // The message as it reads, a line of it to a line here.
    // clang-format off
    EXPECT_EQ(composed, "From: <>\r\nCC: x@y,z@y  Bcc: v@y\r\nDate: D X-Evil: 1 \r\nMime-Version: 1.0\r\n"
                        "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n"
                        "--" + b + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n"
                        "\r\nПривет\r\n..\r\n...a\r\n .x\r\n\r\n..end\r\nx\r\n..\r\ny\r\n\r\n"
                        "--" + b + "\r\nContent-Type: application/octet-stream; name=\"h.txt\"\r\n"
                        "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"h.txt\"\r\n"
                        "\r\nSGVsbG8sIHdvcmxkIQo=\r\n--" + b + "--\r\n");
    // clang-format on
    for (const char* entry : {"C:\\docs\\report.txt", "C:report.txt", "report.txt", "/a/b:report.txt"})
        EXPECT_EQ(TMessageComposer::AttachmentName(entry), "report.txt") << entry;

    for (const std::string& bad : {dir.File("missing.txt"), dir.File("sub")}) {
        events.clear();
        bare.Attachments().SetText(hello + "\r\n" + bad);
        EXPECT_THAT([&] { Compose(bare, mtPlain, composer, b); },
                    testing::ThrowsMessage<EFOpenError>("Cannot open file " + bad));
        EXPECT_EQ(events, (std::vector<std::string>{"start " + hello, "end " + hello, "missing " + bad}));
    }
}

// Each message streams byte for byte as it is composed in memory, whatever the reader's
// piece size (its size known before the first byte, the attachment events while composing,
// a seek back giving the same bytes again). Python's email package reads back what went in:
// attachments byte for byte (one read from a FIFO, names with a quote or Cyrillic letters),
// non-ASCII subject, sender and recipient names, a To line folded after commas to 998
// octets, 8-bit text, text too long for SMTP (then quoted-printable), and a boundary
// composed under a Japanese locale.
TEST(MessageComposer, StreamedBodyIsTheInMemoryBodyAndPythonReadsItBack)
{
    TTempDir dir;
    const std::string fifo = dir.File("fifo.bin"), fifoSource = dir.Write("fifo.src", RandomBytes(70001, 1));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto file = [&](const std::string& name, size_t n) { return dir.Write(name, RandomBytes(n, n)); };
    // Lines around the quoted-printable soft-break limit (76) and the SMTP limit (998), with
    // the bytes to be encoded where a break falls.
    std::string lines = "Здравствуйте!\r\n.\r\n.x";
    for (size_t len : {74, 75, 76, 77, 151, 997, 998, 999, 5000})
        for (const char* fill : {"a", "=", " ", "\t", "Ж", "a=b ", "."}) {
            std::string line;
            while (line.size() < len) line += fill;
            lines += "\r\n" + line;
        }
    TPostMessage m;
    m.SetFromName("Иван Петров");
    m.SetFromAddress("ivan@example.org");
    m.SetSubject("Отчёт за декабрь: итоги года и планы на следующий год, длинная тема");
    m.ToAddress().Add("\"Пётр Сидоров\" <b@example.org>");
    for (int i = 0; i < 120; ++i) m.ToAddress().Add("recipient" + std::to_string(i) + "@example.org");
    // clang-format off
    struct { std::string Text; std::vector<std::string> Files; UUMethods Method; const char* TextEncoding; } cases[] = {
        {"Привет\r\n.", {}, uuMime, "8bit"},
        {lines, {}, uuMime, "quoted-printable"},
        {lines, {file("a", 1), file("b", 45), file("c", 46), file("отчёт.txt", 786439), file("my \"draft\".txt", 0)},
         uuMime, "quoted-printable"},
        {"x", {file("u1", 58), file("u2", 45), file("u3", 45014), file("u4", 0)}, uuCode, ""},
        {"x", {fifo, file("g", 3000)}, uuMime, ""},
    };
    // clang-format on
    ASSERT_NE(std::setlocale(LC_TIME, "ja_JP.UTF-8"), nullptr) << "scripts/install-deps generates ja_JP.UTF-8";
    for (const auto& [text, files, method, textEncoding] : cases) {
        m.Body().SetText(text);
        m.Attachments().Clear();
        for (const auto& f : files) m.Attachments().Add(f);
        TMessageComposer composer;
        TExStringList header;
        std::string oracleBoundary, boundary;
        TMemoryStream oracle;
        TMessageBodyStream body;
        std::vector<std::string> events;
        for (bool streamed : {false, true}) {
            // The writer waits in the background until the composer opens the FIFO.
            if (!files.empty() && files[0] == fifo) std::system(("cat " + fifoSource + " >" + fifo + " &").c_str());
            if (streamed) composer.OnEncodeEnd = [&](const std::string& f) { events.push_back(f); };
            streamed ? composer.ComposeMessage(m, mtPlain, method, header, boundary, body)
                     : composer.ComposeMessage(m, mtPlain, method, header, oracleBoundary, oracle);
        }
        EXPECT_EQ(events, files);
        // The boundary holds the time of day: the oracle's may be a second older.
        std::string expected = oracle.DataString();
        for (size_t at = 0; !files.empty() && (at = expected.find(oracleBoundary, at)) != std::string::npos;
             at += boundary.size())
            expected.replace(at, oracleBoundary.size(), boundary);
        ASSERT_EQ(body.Size(), static_cast<int64_t>(expected.size())) << text;
        for (int32_t piece : {1, 61, 64, 4096, 262128}) {
            body.SetPosition(0);
            EXPECT_TRUE(ReadAll(body, piece) == expected) << files.size() << " files, pieces of " << piece;
        }
        body.SetPosition(static_cast<int64_t>(expected.size() / 2));
        EXPECT_TRUE(ReadAll(body, 1000) == expected.substr(expected.size() / 2)) << files.size() << " files";

        const std::string h = header.Text();
        for (size_t at = 0, eol; (eol = h.find("\r\n", at)) != std::string::npos; at = eol + 2)
            EXPECT_LE(eol - at, 998u) << "header line too long";
        // What Python's email package reads in the message as it goes into DATA.
        const std::string cmd = std::string(QUILLCAST_PYTHON) + " " + MIME_TEST_DIR + "/parse_message.py " +
                                dir.Write("message.eml", h + "\r\n" + expected) + " >" + dir.File("parsed.json");
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "the parser failed: " << cmd;
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(dir.Read("parsed.json"))).object();
        EXPECT_EQ(o["subject"].toString().toStdString(), m.Subject());
        EXPECT_EQ(o["from_name"].toString().toStdString(), m.FromName());
        ASSERT_EQ(o["to"].toArray().size(), 121);
        EXPECT_EQ(o["to_names"].toArray()[0].toString().toStdString(), "Пётр Сидоров");
        for (int i = 1; i < 121; ++i) EXPECT_EQ(o["to"].toArray()[i].toString().toStdString(), m.ToAddress()[i]);
        EXPECT_TRUE(o["defects"].toArray().isEmpty());
        EXPECT_EQ(o["boundary"].toString().toStdString(), files.empty() ? "" : boundary);
        for (unsigned char c : boundary) EXPECT_LT(c, 0x80) << boundary;
        const QJsonArray parts = o["parts"].toArray();
        ASSERT_EQ(parts.size(), static_cast<qsizetype>(files.size() + 1)) << text;
        EXPECT_EQ(parts[0].toObject()["encoding"].toString().toStdString(), textEncoding);
        // The CR LF before a delimiter belongs to the delimiter.
        EXPECT_EQ(parts[0].toObject()["text"].toString().toStdString(), text + (files.empty() ? "\r\n" : ""));
        for (size_t i = 0; i < files.size(); ++i) {
            const QJsonObject part = parts[static_cast<qsizetype>(i + 1)].toObject();
            EXPECT_EQ(part["filename"].toString().toStdString(), fs::path(files[i]).filename().string());
            EXPECT_TRUE(part["defects"].toArray().isEmpty()) << files[i];
            const std::string data = dir.Read(files[i] == fifo ? "fifo.src" : fs::path(files[i]).filename());
            EXPECT_TRUE(QByteArray::fromHex(part["hex"].toString().toLatin1()).toStdString() == data) << files[i];
        }
    }
    std::setlocale(LC_TIME, "C");
}
