#pragma once
// The one message an SMTP client sends: sender, recipients, subject, body lines,
// attachment paths and a few header texts. The record owns its five lists for its whole
// life; storing a list copies the entries, reading one gives the owned list itself.
#include <string>

#include "base/StringList.h"

class TPostMessage : public TObject {
public:
    TPostMessage() = default;
    TPostMessage(const TPostMessage&) = delete;
    TPostMessage& operator=(const TPostMessage&) = delete;

    const std::string& FromAddress() const { return FFromAddress; }
    void SetFromAddress(const std::string& Value) { FFromAddress = Value; }
    const std::string& FromName() const { return FFromName; }
    void SetFromName(const std::string& Value) { FFromName = Value; }

    TStringList& ToAddress() { return FToAddress; }
    const TStringList& ToAddress() const { return FToAddress; }
    void SetToAddress(const TStringList& Value) { FToAddress.Assign(Value); }
    TStringList& ToCarbonCopy() { return FToCarbonCopy; }
    const TStringList& ToCarbonCopy() const { return FToCarbonCopy; }
    void SetToCarbonCopy(const TStringList& Value) { FToCarbonCopy.Assign(Value); }
    TStringList& ToBlindCarbonCopy() { return FToBlindCarbonCopy; }
    const TStringList& ToBlindCarbonCopy() const { return FToBlindCarbonCopy; }
    void SetToBlindCarbonCopy(const TStringList& Value) { FToBlindCarbonCopy.Assign(Value); }
    TStringList& Body() { return FBody; }
    const TStringList& Body() const { return FBody; }
    void SetBody(const TStringList& Value) { FBody.Assign(Value); }
    TStringList& Attachments() { return FAttachments; }
    const TStringList& Attachments() const { return FAttachments; }
    void SetAttachments(const TStringList& Value) { FAttachments.Assign(Value); }

    const std::string& Subject() const { return FSubject; }
    void SetSubject(const std::string& Value) { FSubject = Value; }
    const std::string& LocalProgram() const { return FLocalProgram; }
    void SetLocalProgram(const std::string& Value) { FLocalProgram = Value; }
    // Used unchanged as the Date line; no Date line when empty.
    const std::string& Date() const { return FDate; }
    void SetDate(const std::string& Value) { FDate = Value; }
    const std::string& ReplyTo() const { return FReplyTo; }
    void SetReplyTo(const std::string& Value) { FReplyTo = Value; }

    // Empties ToAddress, ToCarbonCopy, ToBlindCarbonCopy and Attachments between messages;
    // the body and the texts stay. TSmtpClient::ClearParameters forwards here.
    void ClearParameters();

private:
    std::string FFromName;
    std::string FFromAddress;
    std::string FSubject;
    std::string FLocalProgram;
    std::string FDate;
    std::string FReplyTo;
    TStringList FAttachments;
    TStringList FToAddress;
    TStringList FToCarbonCopy;
    TStringList FToBlindCarbonCopy;
    TStringList FBody;
};
