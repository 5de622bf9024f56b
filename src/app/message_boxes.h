// The window's modal boxes. They use the window's font and plain buttons without icons,
// so they look like the window they belong to.
#pragma once

#include <QString>

class QWidget;

namespace tarnwick {

// A message of the program: title "Tarnwick - Hinweis", exclamation icon, one OK button.
void ShowHintBox(QWidget* Parent, const QString& Text);
// A plain notice: title "Tarnwick", no icon, one OK button.
void ShowNoticeBox(QWidget* Parent, const QString& Text);
// A question: title "Tarnwick", question icon, buttons "Ja" and "Nein" with "Ja" the
// default. True only when the user chose "Ja"; closing the box counts as "Nein".
bool AskYesNoBox(QWidget* Parent, const QString& Text);

// Qt's own German texts for the standard dialogs (file dialog, box buttons). False when
// the translation is not installed; the dialogs then stay in English.
bool InstallGermanTranslations();

}  // namespace tarnwick
