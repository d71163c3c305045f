#include "ViewRules.h"

#include <Qt>

int ViewRules::applicationKey(int toolkitKey) {
    // Space, digits, upper-case letters and punctuation keep their code.
    if (toolkitKey >= 0x20 && toolkitKey <= 0x60) return toolkitKey;
    switch (toolkitKey) {
    case Qt::Key_Backspace: return 0x01000002;
    case Qt::Key_Return: return 0x01000001;
    case Qt::Key_Left: return 0x01000003;
    case Qt::Key_Up: return 0x01000005;
    case Qt::Key_Right: return 0x01000004;
    case Qt::Key_Down: return 0x01000006;
    default: return 0x01000000;
    }
}
