#include "app/slategray.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace qgrad {

const StyleColors& SlateGrayColors() {
    static const StyleColors colors{QColor(0x2F, 0x38, 0x42), QColor(0x4F, 0x5B, 0x68), QColor(0xE6, 0xEA, 0xEE)};
    return colors;
}

void ApplySlateGrayStyle(QApplication& app) {
    if (QStyle* fusion = QStyleFactory::create("Fusion")) app.setStyle(fusion);
    const StyleColors& c = SlateGrayColors();
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x5E, 0x6B, 0x78));
    p.setColor(QPalette::WindowText, c.labelFont);
    p.setColor(QPalette::Base, c.listBox);
    p.setColor(QPalette::AlternateBase, QColor(0x58, 0x64, 0x71));
    p.setColor(QPalette::Text, c.labelFont);
    p.setColor(QPalette::Button, QColor(0x6F, 0x7D, 0x8B));
    p.setColor(QPalette::ButtonText, QColor(0xF4, 0xF6, 0xF8));
    p.setColor(QPalette::Highlight, QColor(0x8A, 0xA4, 0xBE));
    p.setColor(QPalette::HighlightedText, QColor(0x10, 0x14, 0x18));
    p.setColor(QPalette::ToolTipBase, c.listBox);
    p.setColor(QPalette::ToolTipText, c.labelFont);
    p.setColor(QPalette::Light, QColor(0x8C, 0x99, 0xA6));
    p.setColor(QPalette::Mid, QColor(0x4A, 0x55, 0x61));
    p.setColor(QPalette::Dark, c.border);
    p.setColor(QPalette::Shadow, QColor(0x1C, 0x22, 0x28));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0xA0, 0xA8, 0xB0));
    p.setColor(QPalette::Disabled, QPalette::Button, QColor(0x5F, 0x6A, 0x75));
    app.setPalette(p);
}

}  // namespace qgrad
