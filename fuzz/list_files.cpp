// The address-list and message-file readers: any bytes, any line-end form, with or
// without a byte-order mark. The address list splits into entries (sorted, as the window
// keeps it); the message file becomes UTF-8 text, decoded as Windows-1251 when it is not
// UTF-8 already.
#include <QStringDecoder>

#include <string>

#include "FuzzCheck.h"
#include "app/MessageFileText.h"
#include "base/StringList.h"

namespace {

const std::string Bom = "\xEF\xBB\xBF";

bool ValidUtf8(const std::string& S)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(QByteArrayView(S.data(), static_cast<qsizetype>(S.size())));
    return !utf8.hasError();
}

// The text with every line end (CR LF, CR, LF) made one LF and the last one dropped.
std::string OneLineEnd(const std::string& S)
{
    std::string out;
    for (size_t i = 0; i < S.size(); ++i) {
        if (S[i] == '\r' && i + 1 < S.size() && S[i + 1] == '\n') continue;
        out += S[i] == '\r' ? '\n' : S[i];
    }
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

void CheckAddressList(const std::string& Input)
{
    TStringList list;
    list.SetText(Input);
    std::string joined;
    for (int i = 0; i < list.Count(); ++i) {
        FUZZ_CHECK(list[i].find_first_of("\r\n") == std::string::npos);
        joined += (i ? "\n" : "") + list[i];
    }
    FUZZ_CHECK(joined == OneLineEnd(Input.starts_with(Bom) ? Input.substr(3) : Input));

    // Saved and loaded again, the entries come back (a mark at the start of the first
    // entry would be taken for the file's own).
    TStringList again;
    again.SetText(list.Text());
    if (list.Count() == 0 || !list[0].starts_with(Bom)) FUZZ_CHECK(again.Items() == list.Items());

    TStringList sorted;
    sorted.SetSorted(true);
    sorted.SetText(Input);
    FUZZ_CHECK(sorted.Count() == list.Count());
    for (int i = 1; i < sorted.Count(); ++i) {
        FUZZ_CHECK(CompareText(sorted[i - 1], sorted[i]) <= 0);
        FUZZ_CHECK(CompareText(sorted[i], sorted[i - 1]) >= 0);
    }
}

void CheckMessageFile(const std::string& Input)
{
    const std::string body = Input.starts_with(Bom) ? Input.substr(3) : Input;
    const std::string text = MessageFileText(Input);
    FUZZ_CHECK(ValidUtf8(text));
    if (ValidUtf8(body)) {
        FUZZ_CHECK(text == body);
    } else {
        // A single-byte code page: one character for every byte.
        FUZZ_CHECK(QString::fromStdString(text).size() == static_cast<qsizetype>(body.size()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string input(reinterpret_cast<const char*>(Data), Size);
    CheckAddressList(input);
    CheckMessageFile(input);
    return 0;
}
