#pragma once

#include <QString>

// Answers the next file dialog with a path, and its overwrite question with Yes. Armed before
// the action that opens the dialog; gives up after 10 s so a test fails instead of hanging.
void answerFileDialog(const QString &path);
