#include "PostMessage.h"

void TPostMessage::ClearParameters()
{
    FToAddress.Clear();
    FToCarbonCopy.Clear();
    FToBlindCarbonCopy.Clear();
    FAttachments.Clear();
}
