#pragma once

// The exact style sheets of the windows. Kept in one place so that the look
// of the program can be compared and changed as a whole.
namespace styles {

// Main window; cascades to every page and dialog parented to it. A
// drop-down list opens as a plain list, not as a menu: a menu that styles
// its highlighted entry draws that entry with a check-mark column and moves
// its text away from where the other entries have theirs. The highlighted
// entry is blue with dark text: white would hardly stand out from the blue.
// A selected table row is a grey dark enough for its light text.
// Sliders that are off lose their blue and their light handle, as other
// controls that are off grey out.
inline const char kMainWindow[] =
    "QPushButton{height:30px;background-color:#181818;border-width:0px;border-radius:4px;color:white;font-size:12px;font-weight:400;}QPushButton:hover{background-color:#1abbfb;}QPushButton:disabled{color:grey;}QWidget#cmsclient{background:#2c2c2c}QTableView{alternate-background-color:#F2F2F2}QTableView::item{height:40px}QTableView::item::!alternate:!selected{background-color:#F8F8FF}QTableView::item:selected{background-color:#606060;color:#FAFAFA}QHeaderView::section{height:24px;border-left:0px;border-top:0px;border-right:2px solid #969696;padding-left:3px;background-color:#4a708b}QHeaderView{background-color:#7D9EC0;color:#FAFAFA}QScrollBar:vertical{width:17px;background-color:#ebebeb;margin:0px 0px 0px 0px;padding-top:17px;padding-bottom:17px}QScrollBar::handle:vertical{width:8px;margin:0px 2px 0px 2px;background-color:#919191;border-radius:6px;min-height:30px}QScrollBar::add-line:vertical{height:16px;width:16px;background:#ebebeb;border-image:url(:/images/srcimages/handle-down.png)}QScrollBar::sub-line:vertical{height:16px;width:16px;background:#ebebeb;border-image:url(:/images/srcimages/handle-up.png)}QScrollBar::add-line:vertical:hover,QScrollBar::sub-line:vertical:hover{background:#b0b0b0}QScrollBar:horizontal{height:17px;background-color:#ebebeb;margin:0px 0px 0px 0px;padding-left:17px;padding-right:17px}QScrollBar:handle:horizontal{height:8px;margin:2px 0px 2px 0px;background-color:#919191;border-radius:6px;min-width:30px}QScrollBar::sub-line:horizontal{background:#ebebeb;border-image:url(:/images/srcimages/handle-left.png)}QScrollBar::add-line:horizontal{background:#ebebeb;border-image:url(:/images/srcimages/handle-right.png)}QScrollBar::add-line:horizontal:hover,QScrollBar::sub-line:horizontal:hover{background:#b0b0b0}QScrollBar::add-page{background-color:#ebebeb}QScrollBar::sub-page{background-color:#ebebeb}QComboBox{border:1px solid gray;border-radius:2px;padding:1px 22px 1px 3px;combobox-popup:0;}QComboBox:editable,QComboBox:!editable,QComboBox::drop-down:editable{background:#d3d3d3;}QTimeEdit,QDateEdit{background:#d3d3d3;}QComboBox::down-arrow{image:url(:/images/srcimages/dropdown.png)}QComboBox QAbstractItemView{border:1px solid darkgray;selection-background-color:#1baafb;selection-color:black;background:#d3d3d3;}QComboBox::drop-down,QComboBox::drop-down:editable{width:18px;border:1px solid #393939;border-radius:2px;background:#4f4f4f;}QLineEdit{border:1px solid gray;border-radius:2px;background-color:#d3d3d3;}QLineEdit:disabled{border-color:#a9a9a9;background-color:#c6c6c6;}QCheckBox::indicator{width:14px;height:14px;}QCheckBox::indicator::unchecked{image: url(:/images/srcimages/frameui/check.png);}QCheckBox::indicator::checked{image: url(:/images/srcimages/frameui/check1.png);}QRadioButton::indicator::unchecked{image: url(:/images/srcimages/frameui/radio.png);}QRadioButton::indicator{width:14px;height:14px}QRadioButton::indicator::checked{image: url(:/images/srcimages/frameui/radio1.png);}QMenu{background-color:#454545;border:1px solid #454545;color:white}QMenu::item{background-color:transparent;padding:2px 13px;margin:2px 2px 1px 2px;border-bottom:1px solid #454545;width:200px}QMenu::item:selected{color:white;background-color:#1baafb}QMenu::item:disabled{color:#696969}QSlider::groove:horizontal{left:1px;right:1px; border: 1px solid #4A708B;background: #C0C0C0;height: 7px;border-radius: 4px;}QSlider::sub-page:horizontal{background: qlineargradient(x1:0, y1:0, x2:0, y2:1,stop:0 #B1B1B1, stop:1 #c4c4c4);background: qlineargradient(x1: 0, y1: 0.2, x2: 1, y2: 1,stop: 0 #5DCCFF, stop: 1 #1874CD);border: 1px solid #4A708B;height: 10px;border-radius: 4px;}QSlider::add-page:horizontal {background: #575757;border: 0px solid #777;height: 10px;border-radius: 4px;}QSlider::handle:horizontal{width:12px;height:16px;border-radius:8px;background:#aaaaaa;margin: -5px -3px;border:2px solid #2a2a2a;}QSlider::handle:horizontal:hover {width:12px;height:16px;border-radius:8px;background:#1baafb;margin: -5px -3px;border:2px solid #2a2a2a;}QSlider::groove:horizontal:disabled{border-color:#5f5f5f;background:#4a4a4a;}QSlider::sub-page:horizontal:disabled{background:#6b6b6b;border-color:#5f5f5f;}QSlider::add-page:horizontal:disabled{background:#404040;}QSlider::handle:horizontal:disabled{background:#5c5c5c;}";

inline const char kMenuSelected[] =
    "QPushButton{height:34px;background-color:#1abbfb;border-width:0px;border-radius:2px;color:white;}QPushButton:hover{background-color:#1abbfb;}";
inline const char kMenuUnselected[] =
    "QPushButton{height:34px;background-color:#272727;border-width:0px;border-radius:2px;color:white;}QPushButton:hover{background-color:#1abbfb;}";
inline const char kMenuWidget[] = "QPushButton{color:white;font-size:14px;font-weight:500;}";
inline const char kClockLabel[] =
    "QWidget{background:rgba(0,0,0,0);border:none;color:white;font-weight:500;font-size:12px;}";
inline const char kContentTopBorder[] = "QWidget#widget_Parent{border-top:2px solid #8dc5fc;}";

inline const char kLogin[] =
    "QPushButton{height:30px;background-color:#181818;border-width:0px;border-radius:4px;color:white;font-size:12px;font-weight:400;}QPushButton:hover{background-color:#1abbfb;}QPushButton:disabled{color:grey;}QLineEdit{border:1px solid gray;border-radius:2px;background-color:#d3d3d3;}QLineEdit:disabled{border-color:#a9a9a9;background-color:#c6c6c6;}QCheckBox::indicator{width:14px;height:14px;}QCheckBox::indicator::unchecked{image: url(:/images/srcimages/frameui/check.png);}QCheckBox::indicator::checked{image: url(:/images/srcimages/frameui/check1.png);}";
// Darker than a pure red, which reads at only 3.5:1 on the light login ground.
inline const char kLoginMessage[] = "QLabel{color:#cc0000;font-size:12px;}";

inline const char kTitleLabel[] = "QLabel{color:#aaaaaa;font-size:14px;font-weight:500;}";

inline const char kTipSuccess[] = "QLabel{color:#00bfff;}";
// Lighter than a pure red: the tip's dark ground swallows a deep one.
inline const char kTipFailure[] = "QLabel{color:#ff7c7c;}";
inline const char kTipPath[] =
    "QLabel{color:#ededed;text-decoration:underline;}QLabel:hover{color:#00bfff;text-decoration:underline}";
inline const char kTipWindow[] = "QWidget#widget_Tipsex{background: #313131;}";

inline const char kMessageDialog[] =
    "QLineEdit{border-radius:1px;border-color:#999999;border-width:1px;height:9px;border-style:solid}QLineEdit:hover{border-color:#575757}QPushButton{border-radius:1px;border-color:#696969;border-width:0px;border-style:solid;background-color:#696969;color:white}QPushButton:hover{border-color:#575757;background-color:#1baafb;color:white}QPushButton:pressed{border:0px solid #575757;background-color:#1baafb;color:white}QMenu{background-color:white;border:1px solid white}QMenu::item{background-color:transparent;padding:6px 13px;margin:2px 2px 1px 2px;border-bottom:1px solid #dbdbdb}QMenu::item:selected{color:white;background-color:#7D9EC0}QWidget#qwTipsDlg{background-color:#454545}";
inline const char kMessageText[] = "QLabel{color:white;font-size:12px;font-weight:400;}";

inline const char kDelegateModify[] =
    "QPushButton{border:1px solid #585858;background-color:#696969; border-radius:2px;background-image:url(':/images/srcimages/local/edit.png');background-repeat: no-repeat;}QPushButton:hover{border-color:white;background-color: #5cacee;}QPushButton:pressed{background-color:#5cacee;}";
inline const char kDelegateDelete[] =
    "QPushButton{border:1px solid #585858;background-color:#696969; border-radius:2px;background-image:url(':/images/srcimages/local/delete.png');background-repeat: no-repeat;}QPushButton:hover{border-color:white;background-color: #5cacee;}QPushButton:pressed{background-color:#e0e0e0;}";

} // namespace styles
