#pragma once

#include <QString>

class Dialogs;
class Registry;

// The outside world as the window sees it. The program hands in the real ones; the tests their own.
struct Seams {
    Dialogs* dialogs = nullptr;
    Registry* registry = nullptr;
    QString updaterFolder; // the running executable's folder, with a trailing separator
};
