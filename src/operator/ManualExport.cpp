// Placeholder until the manual export is built.
#include "shell/MainForm.h"

void TMainForm::Btn_EXPClick() {}
void TMainForm::BlinkTimerTimer() {}
