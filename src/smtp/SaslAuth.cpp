#include "smtp/SaslAuth.h"

#include <algorithm>

#include "base/Exception.h"

namespace {

bool IsOffered(const std::vector<std::string>& Offered, TAuthMethod Method)
{
    return std::find(Offered.begin(), Offered.end(), AuthMethodName(Method)) != Offered.end();
}

void RefuseSeparator(const std::string& Text, char Separator)
{
    if (Text.find(Separator) != std::string::npos) throw Exception("Invalid character in login name or password");
}

}  // namespace

std::string AuthMethodName(TAuthMethod Method)
{
    static const char* const names[] = {"", "PLAIN", "LOGIN", "XOAUTH2"};
    return names[Method <= amXOAuth2 ? Method : amAuto];
}

std::optional<TAuthMethod> ChooseAuthMethod(const std::vector<std::string>& Offered, TAuthMethod Requested,
                                            bool SecretIsToken)
{
    if (Requested != amAuto) {
        if (IsOffered(Offered, Requested)) return Requested;
        return std::nullopt;
    }
    for (TAuthMethod m : SecretIsToken ? std::vector{amXOAuth2} : std::vector{amPlain, amLogin})
        if (IsOffered(Offered, m)) return m;
    return std::nullopt;
}

std::string Base64Encode(const std::string& Data)
{
    static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < Data.size(); i += 3) {
        uint32_t v = 0;
        const size_t n = std::min<size_t>(3, Data.size() - i);
        for (size_t k = 0; k < 3; ++k) v = (v << 8) | (k < n ? static_cast<unsigned char>(Data[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k) out += k <= n ? a[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

std::string PlainResponse(const std::string& AuthzId, const std::string& User, const std::string& Password)
{
    for (const std::string* field : {&AuthzId, &User, &Password}) RefuseSeparator(*field, '\0');
    return Base64Encode(AuthzId + '\0' + User + '\0' + Password);
}

std::string XOAuth2Response(const std::string& User, const std::string& Token)
{
    RefuseSeparator(User, '\x01');
    RefuseSeparator(Token, '\x01');
    return Base64Encode("user=" + User +
                        "\x01"
                        "auth=Bearer " +
                        Token + "\x01\x01");
}

std::string AuthCommand(TAuthMethod Method, const std::string& User, const std::string& Secret)
{
    switch (Method) {
    case amPlain: return "AUTH PLAIN " + PlainResponse("", User, Secret);
    case amXOAuth2: return "AUTH XOAUTH2 " + XOAuth2Response(User, Secret);
    default: return "AUTH " + AuthMethodName(Method);
    }
}

std::string AuthResponse(TAuthMethod Method, int Step, const std::string& User, const std::string& Secret)
{
    if (Method == amLogin && Step <= 1) return Base64Encode(Step == 0 ? User : Secret);
    if (Method == amXOAuth2) return "";
    return "*";
}

std::string AuthCommandLogText(TAuthMethod Method)
{
    return Method == amLogin ? "AUTH LOGIN" : "AUTH " + AuthMethodName(Method) + " ***";
}

std::string AuthResponseLogText(const std::string& Response)
{
    return Response.empty() || Response == "*" ? Response : "***";
}
