// Placeholder until the certificate export is built.
#include "shell/MainForm.h"

int32_t TMainForm::ExpCert() { return 0; }
void TMainForm::Btn_CerClick() {}
