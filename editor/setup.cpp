/* Builds the editor's window: the variable list with its three value groups,
 * the help area and the four buttons, and the keys of the window and of
 * the list.  Each callback only hands over to the action of the same role.
 * Every window carries the program's class and icon, every box its name. */
#include "editor/setup.h"

#include "editor/actions.h"
#include "editor/boxes.h"
#include "settings/store/items.h"

#include <FL/Fl.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Counter.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_ask.H>

#include <ctype.h>

Fl_Double_Window *window_Setup = NULL;
Fl_Browser *listbox_Variables = NULL;
Fl_Group *group_OnOff = NULL;
Fl_Check_Button *radiobutton_ON = NULL;
Fl_Check_Button *radiobutton_OFF = NULL;
Fl_Group *group_NumVar = NULL;
Fl_Counter *textinput_NumericValue = NULL;
Fl_Group *group_TextVar = NULL;
Fl_Input *textinput_TextValue = NULL;
Fl_Output *textoutput_help = NULL;
Fl_Button *button_ResetToDefault = NULL;
Fl_Button *button_SaveToDisk = NULL;
Fl_Button *button_Exit = NULL;
Fl_Button *button_LoadFromDisk = NULL;

/* The windows' icon, the menu entry's SVG rasterised: square RGBA rows. */
enum { ICON_SIZE = 48 };
static const unsigned char acIconRGBA[ICON_SIZE * ICON_SIZE * 4] = {
#include "editor/icon.inc"
};

/* Colour-map entries of the window's palette. */
static const Fl_Color PALE_GREEN = (Fl_Color)206;
static const Fl_Color PALE_BLUE = (Fl_Color)246;
static const Fl_Color PALE_CYAN = (Fl_Color)247;

/* Escape and the window manager's close request take the same road as the
 * "E x i t" button, so unsaved changes are never dropped silently. */
static void cb_window_Setup(Fl_Double_Window *, void *) { Exit(); }
static void cb_listbox_Variables(Fl_Browser *, void *) { listbox_VariablesSelected(); }
static void cb_radiobutton_ON(Fl_Check_Button *, void *) { radiobutton_ONSelected(); }
static void cb_radiobutton_OFF(Fl_Check_Button *, void *) { radiobutton_OFFSelected(); }
static void cb_textinput_NumericValue(Fl_Counter *, void *) { textinput_NumericValueSelected(); }
static void cb_textinput_TextValue(Fl_Input *, void *) { textinput_TextValueSelected(); }
static void cb_button_ResetToDefault(Fl_Button *, void *) { ResetToDefault(); }
static void cb_button_SaveToDisk(Fl_Button *, void *) { SaveToDisk(); }
static void cb_button_Exit(Fl_Button *, void *) { Exit(); }
static void cb_button_LoadFromDisk(Fl_Button *, void *) { LoadFromDisk(); }

/* The keys' callbacks, and the list's right and double clicks. */
static void cb_key_Find(void) { FindVariable(); }
static void cb_key_FindNext(void) { FindNextVariable(); }
static void cb_key_First(void) { MoveSelection(MOVE_FIRST); }
static void cb_key_Last(void) { MoveSelection(MOVE_LAST); }
static void cb_key_PageUp(void) { MoveSelection(MOVE_PAGE_UP); }
static void cb_key_PageDown(void) { MoveSelection(MOVE_PAGE_DOWN); }
static void cb_key_ResetRow(void) { ResetRow(); }
static void cb_key_TypeNumber(void) { TypeNumber(); }
static int cb_key_Letter(char c) { return TypeVariableName(c); }
static void cb_listbox_Variables_Menu(int iLine) { RowMenu(iLine); }
static void cb_listbox_Variables_DoubleClick(void) { TypeNumber(); }

/* Where a key is bound: anywhere in the main window (no box open), in the
 * list while it has the keyboard focus, there while no row is selected,
 * or on the counter. */
enum KeyPlace { KEY_ANYWHERE, KEY_IN_LIST, KEY_IN_LIST_UNSELECTED, KEY_ON_COUNTER };

struct KeyBinding {
    int iKey;              /* Fl::event_key(), or with bCharacter the character typed */
    int bCharacter;
    int iModifiers;        /* of FL_CTRL, FL_ALT and FL_META, exactly those held */
    enum KeyPlace ePlace;
    void (*pfCallback)(void);
};

/* Up and Down move a selection the list's own way; without one they
 * begin at the first row. */
static const struct KeyBinding aKeyBindings[] = {
    {'f', 0, FL_CTRL, KEY_ANYWHERE, cb_key_Find},
    {'g', 0, FL_CTRL, KEY_ANYWHERE, cb_key_FindNext},
    {FL_F + 3, 0, 0, KEY_ANYWHERE, cb_key_FindNext},
    {'/', 1, 0, KEY_IN_LIST, cb_key_Find},
    {FL_Home, 0, 0, KEY_IN_LIST, cb_key_First},
    {FL_End, 0, 0, KEY_IN_LIST, cb_key_Last},
    {FL_Page_Up, 0, 0, KEY_IN_LIST, cb_key_PageUp},
    {FL_Page_Down, 0, 0, KEY_IN_LIST, cb_key_PageDown},
    {FL_Down, 0, 0, KEY_IN_LIST_UNSELECTED, cb_key_First},
    {FL_Up, 0, 0, KEY_IN_LIST_UNSELECTED, cb_key_First},
    {FL_Delete, 0, 0, KEY_IN_LIST, cb_key_ResetRow},
    {FL_Enter, 0, 0, KEY_ON_COUNTER, cb_key_TypeNumber},
    {FL_KP_Enter, 0, 0, KEY_ON_COUNTER, cb_key_TypeNumber},
};

/* The modifiers that tell one binding from another; Shift only changes
 * the character typed. */
static int HeldModifiers(void) { return Fl::event_state() & (FL_CTRL | FL_ALT | FL_META); }

/* Runs the callback of the key just pressed when it is bound to pWidget,
 * the widget that has the keyboard, or with a null pWidget when it is
 * bound anywhere in the window.  Returns 1 when it was. */
static int RunKeyBinding(Fl_Widget const *pWidget)
{
    for (struct KeyBinding const &kb : aKeyBindings) {
        Fl_Widget const *pBound = kb.ePlace == KEY_ANYWHERE     ? NULL
                                  : kb.ePlace == KEY_ON_COUNTER ? (Fl_Widget *)textinput_NumericValue
                                                                : (Fl_Widget *)listbox_Variables;
        if (pBound != pWidget || kb.iModifiers != HeldModifiers() ||
            (kb.ePlace == KEY_IN_LIST_UNSELECTED && listbox_Variables->value() != 0))
            continue;
        if (kb.bCharacter ? Fl::event_length() == 1 && Fl::event_text()[0] == kb.iKey
                          : Fl::event_key() == kb.iKey) {
            kb.pfCallback();
            return 1;
        }
    }
    return 0;
}

/* The window's keys: what no widget took comes here as a shortcut, and
 * never while a box or a menu is open.  Keys bound to a widget are taken
 * by the widget itself, as it gets them first. */
static int WindowKeys(int iEvent)
{
    if (iEvent != FL_SHORTCUT || Fl::modal() != NULL || Fl::grab() != NULL)
        return 0;
    return RunKeyBinding(NULL);
}

/* The variable list: the browser, with its keys, its right click and its
 * double click handed to the actions. */
class Variables_Browser : public Fl_Browser {
  public:
    Variables_Browser(int x, int y, int w, int h, char const *psLabel) : Fl_Browser(x, y, w, h, psLabel) {}

    int handle(int iEvent) override
    {
        if (iEvent == FL_KEYBOARD) {
            unsigned char c = (unsigned char)Fl::event_text()[0];
            if (RunKeyBinding(this))
                return 1;
            if (Fl::event_length() == 1 && isgraph(c) && HeldModifiers() == 0 && cb_key_Letter((char)c))
                return 1;
        }
        if (iEvent == FL_PUSH && Fl::event_button() == FL_RIGHT_MOUSE) {
            void *pItem = find_item(Fl::event_y());
            cb_listbox_Variables_Menu(pItem != NULL ? lineno(pItem) : 0);
            return 1;
        }
        /* A double click is known at its second press and acted on once
         * the release has shown the row. */
        if (iEvent == FL_PUSH)
            bSecondPress = Fl::event_button() == FL_LEFT_MOUSE && Fl::event_clicks() > 0;
        int iUsed = Fl_Browser::handle(iEvent);
        if (iEvent == FL_RELEASE && bSecondPress) {
            bSecondPress = 0;
            cb_listbox_Variables_DoubleClick();
        }
        return iUsed;
    }

  private:
    int bSecondPress = 0;
};

/* The counter, with its keys handed to the actions before the window's
 * shortcuts could take them. */
class Number_Counter : public Fl_Counter {
  public:
    Number_Counter(int x, int y, int w, int h) : Fl_Counter(x, y, w, h) {}

    int handle(int iEvent) override
    {
        if (iEvent == FL_KEYBOARD && RunKeyBinding(this))
            return 1;
        return Fl_Counter::handle(iEvent);
    }
};

void set_window_identity(void)
{
    /* Taskbars match a window to its menu entry by this class (the entry's
     * StartupWMClass) and show its icon; the boxes share both, so that one
     * shown before the main window is not an anonymous "FLTK" either.  FLTK
     * copies the image, so a local one will do. */
    Fl_Window::default_xclass(WINDOW_CLASS);
    Fl_RGB_Image icon(acIconRGBA, ICON_SIZE, ICON_SIZE, 4);
    Fl_Window::default_icon(&icon);
    fl_message_title_default(BOX_TITLE);
}

/* A framed, titled group of the Variables and Help kind. */
static Fl_Group *make_frame(int x, int y, int w, int h, char const *psLabel)
{
    Fl_Group *o = new Fl_Group(x, y, w, h, psLabel);
    o->box(FL_PLASTIC_UP_BOX);
    o->color(FL_CYAN);
    o->labeltype(FL_ENGRAVED_LABEL);
    o->labelfont(FL_COURIER);
    o->align(FL_ALIGN_TOP_LEFT);
    return o;
}

/* One of the three value groups under the list, created inactive. */
static Fl_Group *make_value_group(int x, int y, int w, int h, char const *psLabel)
{
    Fl_Group *o = new Fl_Group(x, y, w, h, psLabel);
    o->box(FL_PLASTIC_UP_BOX);
    o->color(PALE_CYAN);
    o->labelfont(FL_COURIER);
    o->labelcolor(FL_DARK_RED);
    o->deactivate();
    return o;
}

static Fl_Check_Button *make_radio(int x, int y, int w, int h, char const *psLabel)
{
    Fl_Check_Button *o = new Fl_Check_Button(x, y, w, h, psLabel);
    o->type(FL_RADIO_BUTTON);
    o->down_box(FL_DOWN_BOX);
    return o;
}

static Fl_Button *make_button(int x, int y, int w, int h, char const *psLabel, Fl_Color color,
                              char const *psTooltip)
{
    Fl_Button *o = new Fl_Button(x, y, w, h, psLabel);
    o->box(FL_PLASTIC_UP_BOX);
    o->color(color);
    o->labeltype(FL_ENGRAVED_LABEL);
    o->labelfont(FL_COURIER);
    o->tooltip(psTooltip);
    return o;
}

Fl_Double_Window *make_window(void)
{
    window_Setup = new Fl_Double_Window(800, 500, "MoRvAnE - Setup Interface - Version 4.0 - rc_version_");
    window_Setup->color(PALE_GREEN);
    window_Setup->callback((Fl_Callback *)cb_window_Setup);

    Fl_Group *pVariablesFrame = make_frame(5, 20, 790, 310, " V a r i a b l e s");
    listbox_Variables = new Variables_Browser(
        10, 40, 780, 215,
        "           Command             Variable Name                 Default  Current");
    listbox_Variables->type(FL_HOLD_BROWSER);
    listbox_Variables->color(PALE_BLUE);
    listbox_Variables->labelfont(FL_COURIER);
    listbox_Variables->labelcolor(FL_DARK_RED);
    listbox_Variables->textfont(FL_COURIER);
    listbox_Variables->align(FL_ALIGN_TOP_LEFT);
    listbox_Variables->callback((Fl_Callback *)cb_listbox_Variables);
    listbox_Variables->deactivate();

    group_OnOff = make_value_group(10, 280, 160, 45, "Boolean Variable");
    radiobutton_ON = make_radio(30, 290, 50, 25, "ON");
    radiobutton_ON->callback((Fl_Callback *)cb_radiobutton_ON);
    radiobutton_OFF = make_radio(95, 290, 50, 25, "OFF");
    radiobutton_OFF->callback((Fl_Callback *)cb_radiobutton_OFF);
    group_OnOff->end();

    group_NumVar = make_value_group(175, 280, 165, 45, "Numeric Variable");
    textinput_NumericValue = new Number_Counter(180, 290, 155, 25);
    textinput_NumericValue->type(FL_SIMPLE_COUNTER);
    textinput_NumericValue->box(FL_PLASTIC_UP_BOX);
    textinput_NumericValue->color(FL_CYAN);
    textinput_NumericValue->minimum(0);
    textinput_NumericValue->maximum(RANGE_COUNTER_MAX);
    textinput_NumericValue->step(1);
    textinput_NumericValue->textfont(FL_COURIER);
    textinput_NumericValue->tooltip("A number from 0 to 4096: the arrows step by one; Return here, "
                                    "or a double click on the row, lets you type one");
    textinput_NumericValue->callback((Fl_Callback *)cb_textinput_NumericValue);
    group_NumVar->end();

    group_TextVar = make_value_group(345, 280, 445, 45, "Text Variable");
    textinput_TextValue = new Fl_Input(425, 290, 360, 25, "Insert text:");
    textinput_TextValue->callback((Fl_Callback *)cb_textinput_TextValue);
    group_TextVar->end();
    pVariablesFrame->end();

    Fl_Group *pHelpFrame = make_frame(5, 350, 635, 145, " H e l p");
    textoutput_help = new Fl_Output(15, 360, 615, 125);
    textoutput_help->type(FL_MULTILINE_OUTPUT);
    textoutput_help->box(FL_PLASTIC_DOWN_BOX);
    textoutput_help->color(PALE_BLUE);
    textoutput_help->textsize(12);
    textoutput_help->when(FL_WHEN_NEVER);
    pHelpFrame->end();

    button_ResetToDefault = make_button(645, 390, 150, 25, "Reset to Default", FL_CYAN,
                                        "Reset the value of all variables to default");
    button_ResetToDefault->callback((Fl_Callback *)cb_button_ResetToDefault);
    button_SaveToDisk = make_button(645, 430, 150, 25, "Save to Disk", FL_CYAN,
                                    "Save the configuration to disk");
    button_SaveToDisk->callback((Fl_Callback *)cb_button_SaveToDisk);
    button_Exit = make_button(645, 470, 150, 25, "E x i t", PALE_CYAN, "Exit");
    button_Exit->shortcut('q');
    button_Exit->callback((Fl_Callback *)cb_button_Exit);
    button_LoadFromDisk = make_button(645, 350, 150, 25, "Load from Disk", FL_CYAN,
                                      "Load the configuration file from disk");
    button_LoadFromDisk->callback((Fl_Callback *)cb_button_LoadFromDisk);
    window_Setup->end();
    /* Built once by the program, once a test by the tests: one handler. */
    Fl::remove_handler(WindowKeys);
    Fl::add_handler(WindowKeys);
    return window_Setup;
}
