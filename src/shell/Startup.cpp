// Placeholder until the start-up sequence is built.
#include "shell/MainForm.h"

void TMainForm::CMSTART() {}
void TMainForm::Init_TSE() {}
void TMainForm::ReOpenTSE(int32_t) {}
