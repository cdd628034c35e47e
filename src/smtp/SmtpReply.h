#pragma once
// What the SMTP client makes of a reply code.
#include <string>

// A reply is accepted when its code lies from 200 up to Threshold. A code below 200
// (no code at all gives 0) is a refusal, so garbage can never pass for acceptance.
inline bool ReplyRefused(int Code, int Threshold) { return Code < 200 || Code > Threshold; }
