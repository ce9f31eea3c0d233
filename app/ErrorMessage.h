// Operator messages: a modal error box with the text and one OK button.
#pragma once

#include <QString>

class QWidget;

void ShowErrorMessage(QWidget* parent, const QString& text);

// Makes the application's exception report show each message in a modal error box.
void InstallErrorBoxExceptionReport();
