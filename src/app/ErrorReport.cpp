#include "ErrorReport.h"

#include "UserDialogs.h"

void ReportCurrentException(TUserDialogs& Dialogs)
{
    try {
        throw;
    } catch (const std::exception& E) {
        Dialogs.ShowError(ErrorReportText(E.what()));
    } catch (...) {
        Dialogs.ShowError(ErrorReportText("Unknown error"));
    }
}

bool Guarded(TUserDialogs& Dialogs, const std::function<void()>& Handler)
{
    try {
        Handler();
        return true;
    } catch (...) {
        ReportCurrentException(Dialogs);
        return false;
    }
}
