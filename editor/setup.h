/* The editor's window: make_window builds and wires every widget; the
 * globals below are how the actions reach them. */
#ifndef MORV_EDITOR_SETUP_H
#define MORV_EDITOR_SETUP_H

class Fl_Double_Window;
class Fl_Browser;
class Fl_Group;
class Fl_Check_Button;
class Fl_Counter;
class Fl_Input;
class Fl_Output;
class Fl_Button;

extern Fl_Double_Window *window_Setup;
extern Fl_Browser *listbox_Variables;
extern Fl_Group *group_OnOff;
extern Fl_Check_Button *radiobutton_ON;
extern Fl_Check_Button *radiobutton_OFF;
extern Fl_Group *group_NumVar;
extern Fl_Counter *textinput_NumericValue;
extern Fl_Group *group_TextVar;
extern Fl_Input *textinput_TextValue;
extern Fl_Output *textoutput_help;
extern Fl_Button *button_ResetToDefault;
extern Fl_Button *button_SaveToDisk;
extern Fl_Button *button_Exit;
extern Fl_Button *button_LoadFromDisk;

/* The X class of every window (WM_CLASS), the name of the menu entry. */
#define WINDOW_CLASS "morvane-setup"

/* Gives every window created from now on, boxes included, WINDOW_CLASS and
 * the menu entry's icon, and every box BOX_TITLE.  Returns nothing; cannot
 * fail. */
void set_window_identity(void);

/* Creates the window and its fifteen children, not shown, with the list and
 * the three value groups inactive, and binds the window's and the list's
 * keys.  Returns window_Setup. */
Fl_Double_Window *make_window(void);

#endif
