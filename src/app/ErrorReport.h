#pragma once
// The application's error report: an exception that no handler catches is shown in a
// message box titled with the application title, with the stop icon and an OK button, and
// the program goes on. Every handler the window system calls runs inside Guarded.
#include <exception>
#include <functional>
#include <string>

#include "base/Exception.h"  // ErrorReportText

class TUserDialogs;

// Shows the report for the exception being handled (call it inside a catch block).
void ReportCurrentException(TUserDialogs& Dialogs);

// Runs Handler; an escaping exception is reported through Dialogs. False when one escaped.
bool Guarded(TUserDialogs& Dialogs, const std::function<void()>& Handler);
