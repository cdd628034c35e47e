#include "Language.h"

#include <cstring>

const TCaptionEntry CaptionTable[] = {
    {"ComboBox1.0", {"English", "Английский"}},
    {"ComboBox1.1", {"Russian", "Русский"}},
    {"GroupBox1", {"Host information", "Настройки сервера"}},
    {"GroupBox2", {"Personal information", "Личные настройки"}},
    {"Label1", {"Host", "Сервер"}},
    {"Label2", {"Port", "Порт"}},
    {"Label3", {"Name", "Имя"}},
    {"Label4", {"UserId", "Логин"}},
    {"Label5", {"Subject", "Тема"}},
    {"Label6", {"E-mail address", "E-mail адрес"}},
    {"Label7", {"Input address", "Ввод адреса"}},
    {"Label9", {"Language", "Язык"}},
    {"Label10", {"Attachments", "Вложения"}},
    {"TabSheet1", {"Message", "Сообщение"}},
    {"TabSheet2", {"Addresses", "Адреса"}},
    {"TabSheet3", {"Options", "Настройки"}},
    {"Sendbtn", {"Send!", "Отправить!"}},
    {"BitBtn1", {"About", "О программе"}},
    {"BitBtn4", {"Close", "Закрыть"}},
    {"BitBtn10", {"Help", "Помощь"}},
    {"Openbtn", {"Open", "Открыть"}},
    {"BitBtn3", {"Save", "Сохранить"}},
    {"BitBtn8", {"Clear", "Очистить"}},
    {"Button4", {"Add", "Добавить"}},
    {"Button5", {"Remove", "Удалить"}},
    {"Adrbtn", {"Open", "Открыть"}},
    {"BitBtn2", {"Save", "Сохранить"}},
    {"BitBtn7", {"Clear", "Очистить"}},
    {"BitBtn5", {"Insert address", "Вставить адрес"}},
    {"BitBtn6", {"Remove address", "Удалить адрес"}},
    {"RadioGroup1", {"How send", "Как посылать"}},
    {"RadioButton1", {"To Address", "Адрес"}},
    {"RadioButton2", {"To CarbonCopy", "Копия"}},
    {"RadioButton3", {"To BlindCarbonCopy", "Скрытая копия"}},
    {"BitBtn9", {"Reset", "Сброс"}},
    {"DeliveryBtn", {"Connection and delivery…", "Соединение и доставка…"}},
    {"Openaddresses1", {"Open addresses", "Открыть адреса"}},
    {"OpenMessage1", {"Open message", "Открыть сообщение"}},
    {"Send1", {"Send!", "Отправить!"}},
    {"Saveaddresse1", {"Save addresses", "Сохранить адреса"}},
    {"Savemessage1", {"Save message", "Сохранить сообщение"}},
    {"Terminate1", {"Terminate", "Прервать"}},
};
const std::size_t CaptionTableSize = sizeof CaptionTable / sizeof CaptionTable[0];

namespace {

const char* const LangTexts[ltCount_][2] = {
    /* ltTotal            */ {"Total ", "Всего "},
    /* ltAddresses        */ {" addresses", " адресов"},
    /* ltConnecting       */ {"Connecting", "Соединяемся"},
    /* ltConnected        */ {"Connected", "Соединились"},
    /* ltStarting         */ {"Starting", "Стартуем"},
    /* ltSentSuccessfully */ {"Sent successfully", "Отправлено успешно"},
    /* ltAreYouSure       */ {"Are you sure?", "Вы уверены?"},
    /* ltEndProgram       */ {"End the program?", "Завершить работу?"},
    /* ltRecipientOf      */ {"recipient %1 of %2", "получатель %1 из %2"},
    /* ltDeliveryTitle    */ {"Connection and delivery", "Соединение и доставка"},
    /* ltMaxRecipients    */ {"Recipients per message (0 = no limit)", "Получателей в сообщении (0 = без ограничения)"},
    /* ltPauseMs          */ {"Pause between messages, ms", "Пауза между сообщениями, мс"},
    /* ltSkipRefused      */ {"Skip refused recipients", "Пропускать отвергнутых получателей"},
    /* ltDeliveryGroup    */ {"Delivery", "Доставка"},
    /* ltConnectionGroup  */ {"Connection and login", "Соединение и вход"},
    /* ltSecurity         */ {"Security", "Защита"},
    /* ltSecurityNone     */ {"None", "Нет"},
    /* ltAuthUser         */ {"Login name", "Имя для входа"},
    /* ltPassword         */ {"Password or token", "Пароль или токен"},
    /* ltRemember         */ {"Remember", "Запомнить"},
    /* ltAuthMethod       */ {"Authentication", "Способ входа"},
    /* ltAuthAuto         */ {"Automatic", "Автоматически"},
    /* ltCAFile           */ {"CA certificates file", "Файл сертификатов ЦС"},
    /* ltFingerprint      */ {"Certificate fingerprint (SHA-256)", "Отпечаток сертификата (SHA-256)"},
    /* ltExtendedSmtp     */ {"Use extended SMTP (EHLO)", "Использовать расширенный SMTP (EHLO)"},
    /* ltAllowPlaintext   */ {"Allow login without encryption", "Разрешить вход без шифрования"},
    /* ltTestConnection   */ {"Test connection", "Проверить соединение"},
    /* ltBrowse           */ {"Browse…", "Обзор…"},
    /* ltPasswordTitle    */ {"Password", "Пароль"},
    /* ltPasswordPrompt   */ {"Password for %s on %s:", "Пароль для %s на %s:"},
    /* ltServerOffers     */ {"The server offers:", "Сервер предлагает:"},
    /* ltNoKeyring        */
    {"No keyring is available: the password is kept only until the program ends.",
     "Связка ключей недоступна: пароль хранится только до закрытия программы."},
    /* ltResultsTitle     */ {"Recipients not reached", "Недоставленные получатели"},
    /* ltEntry            */ {"Entry", "Запись"},
    /* ltOutcome          */ {"Outcome", "Итог"},
    /* ltServerReply      */ {"Server reply", "Ответ сервера"},
    /* ltSaveReport       */ {"Save report…", "Сохранить отчёт…"},
    /* ltKeepOnly         */ {"Keep only these in the list", "Оставить в списке только их"},
    /* ltClose            */ {"Close", "Закрыть"},
    /* ltStop             */ {"Stop", "Стоп"},
    /* ltWaitingGreeting  */ {"Waiting for the server's greeting", "Ждём приветствия сервера"},
    /* ltRecipientsSent   */ {"Sending recipients: %1 of %2", "Передаём получателей: %1 из %2"},
    /* ltBytesSent        */ {"%1 bytes of %2 sent", "Отправлено байт: %1 из %2"},
    /* ltWaitingAnswer    */ {"Waiting for the server's answer", "Ждём ответа сервера"},
    /* ltMayHaveMessage   */
    {"The whole message had gone out: the server may already have taken it.",
     "Сообщение уже было передано целиком: сервер, возможно, его уже принял."},
    /* ltReplaceList      */
    {"The address list has unsaved changes. Replace it?",
     "В списке адресов есть несохранённые изменения. Заменить его?"},
    /* ltAccepted         */ {"accepted", "принят"},
    /* ltRefused          */ {"refused", "отвергнут"},
    /* ltDeferred         */ {"deferred", "отложен"},
    /* ltNotTried         */ {"not-tried", "не отправлялся"},
};

// Russian count forms: one (1, 21, 101), few (2-4, 22-24), many (0, 5-20, 25-30, 111).
const char* const RussianAddresses[3] = {" адрес", " адреса", " адресов"};

}  // namespace

const char* LangText(TLangText Text, TLanguage Language) { return LangTexts[Text][Language]; }

std::string AddressCountText(long long Count, TLanguage Language)
{
    const std::string number = std::to_string(Count);
    if (Language == lgEnglish) return LangTexts[ltTotal][lgEnglish] + number + LangTexts[ltAddresses][lgEnglish];
    const long long tens = Count % 100, units = Count % 10;
    const int form = tens >= 11 && tens <= 14 ? 2 : units == 1 ? 0 : units >= 2 && units <= 4 ? 1 : 2;
    return LangTexts[ltTotal][lgRussian] + number + RussianAddresses[form];
}

const char* OutcomeText(TSendOutcome Outcome, TLanguage Language)
{
    switch (Outcome) {
    case TSendOutcome::Accepted: return LangText(ltAccepted, Language);
    case TSendOutcome::Refused: return LangText(ltRefused, Language);
    case TSendOutcome::Deferred: return LangText(ltDeferred, Language);
    case TSendOutcome::NotTried: break;
    }
    return LangText(ltNotTried, Language);
}

const char* Caption(const char* Control, TLanguage Language)
{
    for (const auto& entry : CaptionTable)
        if (std::strcmp(entry.Control, Control) == 0) return entry.Text[Language];
    return nullptr;
}
