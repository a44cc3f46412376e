#pragma once
// A caption beside an icon button that answers clicks as the button does.
class QAbstractButton;
class QLabel;

// A left click released over label clicks button (when it is enabled); the
// label shows the pointing-hand cursor. The forwarding ends with either.
void forwardLabelClicks(QLabel *label, QAbstractButton *button);
