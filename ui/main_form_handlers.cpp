#include "ui/main_form.h"

// The window's commands. Each handler runs to completion on the GUI thread.

void TForm1::BitBtn2Click() {}

void TForm1::CancelBBtnClick() {}

void TForm1::DBNameBtnClick() {}

void TForm1::DirBrowseBtnClick() {}

void TForm1::BitBtn3Click() {}

void TForm1::Memo1Click() {}

void TForm1::DSNNameEditEnter() {}

void TForm1::DBNameEditExit() {}
