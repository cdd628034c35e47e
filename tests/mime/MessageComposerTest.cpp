#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>
#include <tuple>

#include "base/Exception.h"
#include "TestStreams.h"
#include "mime/MessageComposer.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct Composed {
    std::string header;    // the header lines, each with CR LF
    std::string boundary;
    std::string body;
};

Composed Compose(const TPostMessage& msg, TSubType sub = mtPlain, UUMethods method = uuMime,
                 TMessageComposer* composer = nullptr)
{
    TMessageComposer local;
    TExStringList header;
    header.Add("stale line");
    TMemoryStream body;
    body.WriteString("stale body");
    Composed c;
    (composer ? *composer : local).ComposeMessage(msg, sub, method, header, c.boundary, body);
    c.header = header.Text();
    c.body = body.DataString();
    return c;
}

std::string Base64Lines(const std::string& data)
{
    const QByteArray b64 = QByteArray(data.data(), static_cast<qsizetype>(data.size())).toBase64();
    std::string out;
    for (qsizetype i = 0; i < b64.size(); i += 60) out += b64.mid(i, 60).toStdString() + "\r\n";
    return out;
}

std::string PartHeader(const std::string& boundary, const std::string& name, const char* encoding = "base64")
{
    return "--" + boundary + "\r\nContent-Type: application/octet-stream; name=\"" + name +
           "\"\r\nContent-Transfer-Encoding: " + encoding +
           "\r\nContent-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n";
}

// Writes data into a FIFO from another thread (the reader opens it).
void Feed(const std::string& fifo, const std::string& data)
{
    std::thread([fifo, data] {
        FILE* f = std::fopen(fifo.c_str(), "wb");
        if (f) std::fwrite(data.data(), 1, data.size(), f), std::fclose(f);
    }).detach();
}

std::string TextPart(const std::string& boundary)
{
    return "--" + boundary + "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n";
}

}  // namespace

// Header lines in their forms and order (no Bcc); no value may start a line of its own;
// non-ASCII text is sent as 8-bit UTF-8; body lines are dot-stuffed.
TEST(MessageComposer, HeaderLinesAndBody)
{
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
    EXPECT_EQ(Compose(m).header,
              "From: Ann Smith<ann@x.org>\r\nTo: b@x.org,Bob <c@x.org>, d@x.org\r\nCC: e@x.org\r\nSubject: Hi\r\n"
              "X-Mailer: Created by Veskor\r\nReply-To: r@x.org\r\nDate: Sun, 06 Dec 2026 10:00:00 +0000\r\n"
              "Mime-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n");
    EXPECT_EQ(Compose(m).body, "");

    TPostMessage bare;
    bare.ToCarbonCopy().Add("x@y");
    bare.ToCarbonCopy().Add("z@y\r\nBcc: v@y");
    bare.SetDate(std::string("D\nX-Evil: 1\0", 12));
    // An entry holding line breaks is lines of their own: its "." cannot end the data.
    for (const char* line : {"Привет", ".", "..a", " .x", "", ".end", "x\r.\ny\r\n"}) bare.Body().Add(line);
    const Composed c = Compose(bare);
    EXPECT_EQ(c.header, "From: <>\r\nCC: x@y,z@y  Bcc: v@y\r\nDate: D X-Evil: 1 \r\nMime-Version: 1.0\r\n"
                        "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n");
    EXPECT_EQ(c.body, "Привет\r\n..\r\n...a\r\n .x\r\n\r\n..end\r\nx\r\n..\r\ny\r\n\r\n");
}

TEST(MessageComposer, ContentTypeFollowsSubType)
{
    const std::pair<TSubType, const char*> cases[] = {
        {mtPlain, "text/plain"}, {mtEnriched, "text/enriched"}, {mtSgml, "text/sgml"},
        {mtTabSeperated, "text/tab-separated-values"}, {mtHtml, "text/html"}, {static_cast<TSubType>(9), "text/plain"}};
    for (const auto& [sub, type] : cases) {
        const std::string h = Compose(TPostMessage(), sub).header;
        EXPECT_EQ(h.substr(h.rfind("Content-Type")), std::string("Content-Type: ") + type + "; charset=us-ascii\r\n");
    }
}

TEST(MessageComposer, LongAddressLinesFoldAfterCommas)
{
    TPostMessage m;
    std::string joined = "To: ";
    for (int i = 0; i < 120; ++i) {
        const std::string a = "recipient" + std::to_string(i) + "@example.org";
        m.ToAddress().Add(a);
        joined += (i ? "," : "") + a;
    }
    std::string to = Compose(m).header;
    to = to.substr(0, to.find("\r\nMime-Version"));
    size_t longest = 0, at = 0;
    for (size_t eol; (eol = to.find("\r\n", at)) != std::string::npos; at = eol + 2)
        longest = std::max(longest, eol - at);
    EXPECT_LE(std::max(longest, to.size() - at), 998u);
    EXPECT_GT(at, 0u) << "not folded";
    for (size_t fold; (fold = to.find(",\r\n ")) != std::string::npos;) to.replace(fold, 4, ",");
    EXPECT_EQ(to, "From: <>\r\n" + joined);  // folded only after commas
}

// With attachments the message is multipart whatever the subtype: the text part, one part
// per file named by its last path element, events around each file, the closing delimiter.
TEST(MessageComposer, MultipartLayoutAndFileNames)
{
    TTempDir dir;
    fs::create_directory(dir.Path() + "/sub");
    const std::string empty = dir.Write("empty.dat", "");
    const std::string f45 = dir.Write("sub/report.txt", RandomBytes(45, 1));
    const std::string f46 = dir.Write("report.txt", RandomBytes(46, 2));
    TPostMessage m;
    for (const auto& a : {empty, f45, f46}) m.Attachments().Add(a);
    std::vector<std::string> events;
    TMessageComposer composer;
    composer.OnEncodeStart = [&](const std::string& f) { events.push_back("start " + f); };
    composer.OnEncodeEnd = [&](const std::string& f) { events.push_back("end " + f); };
    const Composed c = Compose(m, mtHtml, uuMime, &composer);
    const std::string& b = c.boundary;
    EXPECT_TRUE(std::regex_match(b, std::regex("={20}54535[^=]*\\d\\d[^=]*===="))) << b;
    EXPECT_EQ(c.header.substr(c.header.rfind("Content-Type")), "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n");
    EXPECT_EQ(c.body, TextPart(b) + PartHeader(b, "empty.dat") + PartHeader(b, "report.txt") +
                          Base64Lines(RandomBytes(45, 1)) + PartHeader(b, "report.txt") + Base64Lines(RandomBytes(46, 2)) +
                          "--" + b + "--\r\n");
    EXPECT_EQ(events, (std::vector<std::string>{"start " + empty, "end " + empty, "start " + f45, "end " + f45,
                                                "start " + f46, "end " + f46}));
    for (const char* entry : {"C:\\docs\\report.txt", "C:report.txt", "report.txt", "/a/b:report.txt"})
        EXPECT_EQ(TMessageComposer::AttachmentName(entry), "report.txt") << entry;
}

// A missing file and a directory alike: reported, then raised as an open failure.
TEST(MessageComposer, MissingAttachmentIsReportedThenRaised)
{
    TTempDir dir;
    fs::create_directory(dir.Path() + "/folder");
    for (const char* name : {"missing.txt", "folder"}) {
        TPostMessage m;
        m.Attachments().Add(dir.Write("first", "1"));
        const std::string missing = dir.Path() + "/" + name;
        m.Attachments().Add(missing);
        std::vector<std::string> events;
        TMessageComposer composer;
        composer.OnEncodeEnd = [&](const std::string& f) { events.push_back("end " + f); };
        composer.OnAttachmentNotFound = [&](const std::string& f) { events.push_back("missing " + f); };
        try {
            Compose(m, mtPlain, uuMime, &composer);
            ADD_FAILURE() << "no error for " << name;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.Message(), "Cannot open file " + missing);
        } catch (const Exception& e) {
            ADD_FAILURE() << name << ": " << e.Message();
        }
        EXPECT_EQ(events, (std::vector<std::string>{"end " + m.Attachments()[0], "missing " + missing}));
    }
}

// 59 bytes: a full line and a last line of 14 bytes, whose length character is ".".
TEST(MessageComposer, UUEncodedPartsAnnounceThemselvesAndAreDotStuffed)
{
    TTempDir dir;
    TPostMessage m;
    m.Attachments().Add(dir.Write("f.bin", RandomBytes(59, 3)));
    const Composed c = Compose(m, mtPlain, uuCode);
    const std::string part = PartHeader(c.boundary, "f.bin", "x-uuencode");
    const size_t at = c.body.find(part);
    ASSERT_NE(at, std::string::npos);
    const std::string content = c.body.substr(at + part.size(), c.body.rfind("--" + c.boundary) - at - part.size());
    ASSERT_EQ(content.size(), 63u + 1 + 1 + 19 + 2 + 3);
    EXPECT_EQ(content.substr(63, 2), "..");
    EXPECT_EQ(content.substr(content.size() - 3), "`\r\n");
}

// An independent parser must read back what was composed: attachments byte for byte
// (one of them read from a FIFO, names with a quote or Cyrillic letters), non-ASCII
// subject, sender and recipient names, a body line too long for SMTP (which must then
// travel quoted-printable), and a boundary composed under a Japanese locale.
TEST(MessageComposer, PythonEmailParsesTheComposedMessage)
{
    TTempDir dir;
    const std::vector<size_t> sizes = {0, 1, 45, 46, 300001, 70000, 10};
    const std::vector<std::string> names = {"file0.bin", "file1.bin", "file2.bin", "отчёт.txt", "file4.bin",
                                            "fifo.bin", "my \"draft\".txt"};
    TPostMessage m;
    m.SetFromName("Иван Петров");
    m.SetFromAddress("ivan@example.org");
    m.ToAddress().Add("a@example.org");
    m.ToAddress().Add("\"Пётр Сидоров\" <b@example.org>");
    m.SetSubject("Отчёт за декабрь: итоги года и планы на следующий год, длинная тема");
    // Lines around the encoder's soft-break limit (76) and the SMTP limit (998), with the
    // bytes it must encode where a break falls.
    std::string text = "Здравствуйте!\r\n.\r\n.x";
    for (size_t len : {74, 75, 76, 77, 151, 997, 998, 999, 5000})
        for (const char* fill : {"a", "=", " ", "\t", "Ж", "a=b ", "."}) {
            std::string line;
            while (line.size() < len) line += fill;
            text += "\r\n" + line;
        }
    m.Body().SetText(text + "\r\nend");
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::string data = RandomBytes(sizes[i], static_cast<unsigned>(i));
        if (names[i] != "fifo.bin") {
            m.Attachments().Add(dir.Write(names[i], data));
            continue;
        }
        ASSERT_EQ(::mkfifo(dir.File(names[i]).c_str(), 0600), 0);
        m.Attachments().Add(dir.File(names[i]));
        Feed(dir.File(names[i]), data);
    }
    ASSERT_NE(std::setlocale(LC_TIME, "ja_JP.UTF-8"), nullptr) << "scripts/install-deps generates ja_JP.UTF-8";
    const Composed c = Compose(m);
    std::setlocale(LC_TIME, "C");
    for (unsigned char ch : c.boundary) EXPECT_LT(ch, 0x80) << c.boundary;
    const std::string cmd = std::string(QUILLCAST_PYTHON) + " " + MIME_TEST_DIR + "/parse_message.py " +
                            dir.Write("message.eml", c.header + "\r\n" + c.body);
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string json;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) json.append(buf, n);
    ASSERT_EQ(pclose(p), 0) << "the parser failed: " << cmd;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    EXPECT_EQ(o["subject"].toString().toStdString(), m.Subject());
    EXPECT_EQ(o["from_name"].toString().toStdString(), m.FromName());
    EXPECT_EQ(o["from_addr"].toString().toStdString(), m.FromAddress());
    EXPECT_EQ(o["to"].toArray().size(), 2);
    EXPECT_EQ(o["to_names"].toArray()[1].toString().toStdString(), "Пётр Сидоров");
    EXPECT_EQ(o["boundary"].toString().toStdString(), c.boundary);
    EXPECT_TRUE(o["defects"].toArray().isEmpty());
    const std::string qp = c.body.substr(0, c.body.find("\r\n--" + c.boundary, 10));
    for (size_t at = 0, eol; (eol = qp.find("\r\n", at)) != std::string::npos; at = eol + 2)
        ASSERT_LE(eol - at - (qp[at] == '.'), 76u) << qp.substr(at, eol - at);  // dot-stuffing aside
    const QJsonArray parts = o["parts"].toArray();
    ASSERT_EQ(parts.size(), static_cast<qsizetype>(sizes.size() + 1));
    EXPECT_EQ(parts[0].toObject()["encoding"].toString(), "quoted-printable");
    // The CR LF before a delimiter belongs to the delimiter.
    EXPECT_EQ(parts[0].toObject()["text"].toString().toStdString(), text + "\r\nend");
    for (size_t i = 0; i < sizes.size(); ++i) {
        const QJsonObject part = parts[static_cast<qsizetype>(i + 1)].toObject();
        EXPECT_EQ(part["filename"].toString().toStdString(), names[i]);
        EXPECT_TRUE(part["defects"].toArray().isEmpty()) << i;
        EXPECT_EQ(QByteArray::fromHex(part["hex"].toString().toLatin1()).toStdString(),
                  RandomBytes(sizes[i], static_cast<unsigned>(i)))
            << "attachment of " << sizes[i] << " bytes";
    }
}

// The streamed body, read in pieces of Piece bytes.
static std::string ReadAll(TStream& s, int32_t Piece)
{
    std::string out, buf(static_cast<size_t>(Piece), '\0');
    for (int32_t n; (n = s.Read(buf.data(), Piece)) > 0;) out.append(buf.data(), static_cast<size_t>(n));
    return out;
}

// The body produced while it is read is byte for byte the one composed in memory, whatever
// the reader's piece size; its size is known before the first byte; the attachment events
// come while composing; a seek back (the next transaction) gives the same bytes again.
TEST(MessageComposer, StreamedBodyIsTheInMemoryBody)
{
    TTempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto file = [&](const char* name, size_t n) { return dir.Write(name, RandomBytes(n, n)); };
    const std::string lines = "Ж\r\n.\r\n" + std::string(1200, 'x');  // 8-bit, dot, too long
    const std::vector<std::tuple<std::string, std::vector<std::string>, UUMethods>> cases = {
        {"Hello\r\n.dot", {}, uuMime},
        {lines, {}, uuMime},
        {"", {file("one", 100000)}, uuMime},
        {lines, {file("a", 1), file("b", 45), file("c", 46), file("d", 786439), file("e", 0)}, uuMime},
        {"x", {file("u1", 59), file("u2", 45014), file("u3", 0)}, uuCode},
        {"x", {fifo, file("g", 3000)}, uuMime},
    };
    for (const auto& [text, files, method] : cases) {
        TPostMessage m;
        m.Body().SetText(text);
        for (const auto& f : files) m.Attachments().Add(f);
        TMessageComposer composer;
        TExStringList header;
        std::string oracleBoundary, boundary;
        TMemoryStream oracle;
        TMessageBodyStream body;
        std::vector<std::string> events;
        for (bool streamed : {false, true}) {
            if (files.size() && files[0] == fifo) Feed(fifo, RandomBytes(70001, 1));
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
    }
}
