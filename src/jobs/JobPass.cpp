// Placeholder until the job pass is built.
#include "shell/MainForm.h"

void TMainForm::Abarbeiten_TseJobs() {}
QString TMainForm::GetFirstCert() { return {}; }
