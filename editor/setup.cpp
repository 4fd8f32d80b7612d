/* Builds the editor's window: the variable list with its three value groups,
 * the help area and the four buttons.  Each callback only hands over to the
 * action of the same role.  Every window carries the program's class and icon. */
#include "editor/setup.h"

#include "editor/actions.h"
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

void set_window_identity(void)
{
    /* Taskbars match a window to its menu entry by this class (the entry's
     * StartupWMClass) and show its icon; the boxes share both, so that one
     * shown before the main window is not an anonymous "FLTK" either.  FLTK
     * copies the image, so a local one will do. */
    Fl_Window::default_xclass(WINDOW_CLASS);
    Fl_RGB_Image icon(acIconRGBA, ICON_SIZE, ICON_SIZE, 4);
    Fl_Window::default_icon(&icon);
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
    listbox_Variables = new Fl_Browser(
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
    textinput_NumericValue = new Fl_Counter(180, 290, 155, 25);
    textinput_NumericValue->type(FL_SIMPLE_COUNTER);
    textinput_NumericValue->box(FL_PLASTIC_UP_BOX);
    textinput_NumericValue->color(FL_CYAN);
    textinput_NumericValue->minimum(0);
    textinput_NumericValue->maximum(RANGE_COUNTER_MAX);
    textinput_NumericValue->step(1);
    textinput_NumericValue->textfont(FL_COURIER);
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
    return window_Setup;
}
