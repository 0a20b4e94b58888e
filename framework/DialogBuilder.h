// Turns a dialog template into Qt widgets: one widget per control at its pixel position, radio
// groups as button groups, tab order as in the template, and group boxes stacked below every
// other control so that a frame never covers (or takes the clicks of) what it frames.
// Window thread only.
#pragma once

#include <QFont>
#include <unordered_map>
#include <vector>

#include "framework/DialogUnits.h"
#include "res/DialogTemplates.h"

class QButtonGroup;
class QWidget;

struct BuiltControl {
    const ControlTemplate* source;
    QWidget* widget;  // a child of the dialog; the dialog owns it
};

struct BuiltControls {
    std::vector<BuiltControl> inOrder;                   // template order
    std::unordered_map<int, QWidget*> byId;              // controls with an id of their own
    std::unordered_map<int, QButtonGroup*> radioGroups;  // by the group's first button
};

// The template's font; where the named face is missing the font system's substitute is used.
QFont DialogFont(const DialogTemplate& dialogTemplate);

// The base units of a font as the platform's dialog manager computes them.
DialogBaseUnits MeasureDialogBaseUnits(const QFont& font);

BuiltControls BuildDialogControls(const DialogTemplate& dialogTemplate, QWidget& dialog,
                                  const DialogBaseUnits& units);
