#pragma once
// The application's error report: an exception that no handler catches is shown in a
// message box titled with the application title, with the stop icon and an OK button, and
// the program goes on. Every handler the window system calls runs inside Guarded.
#include <exception>
#include <functional>
#include <string>

class TUserDialogs;

// The message with a full stop added, unless it is empty or already ends in a full stop
// or in a character that sorts before it ("Failed!" stays, "Timed out" gets its stop).
std::string ErrorReportText(const std::string& Message);

// Shows the report for the exception being handled (call it inside a catch block).
void ReportCurrentException(TUserDialogs& Dialogs);

// Runs Handler; an escaping exception is reported through Dialogs. False when one escaped.
bool Guarded(TUserDialogs& Dialogs, const std::function<void()>& Handler);
