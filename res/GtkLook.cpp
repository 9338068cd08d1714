#include "res/GtkLook.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif
#include <wx/filedlg.h>
#include <wx/gauge.h>
#include <wx/image.h>
#include <wx/scrolbar.h>
#include <wx/tokenzr.h>
#include <wx/toplevel.h>
#include <wx/window.h>

namespace {

// A style sheet for one widget and its inner nodes (trough, slider, buttons), above the theme.
void AddWidgetStyle(GtkWidget* widget, const std::string& css) {
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

// The arrows' length along the bar: square, as wide as the view's bar. The style sheet below fixes
// it, so that a press can be placed without GTK's private geometry.
constexpr int STEPPER_LENGTH = 18;

void SendScroll(wxScrollBar* bar, wxEventType type) {
    wxScrollEvent event(type, bar->GetId(), bar->GetThumbPosition(),
                        bar->IsVertical() ? wxVERTICAL : wxHORIZONTAL);
    event.SetEventObject(bar);
    bar->HandleWindowEvent(event);
    wxScrollEvent changed(wxEVT_SCROLL_CHANGED, bar->GetId(), bar->GetThumbPosition(),
                          event.GetOrientation());
    changed.SetEventObject(bar);
    bar->HandleWindowEvent(changed);
}

// A primary press outside the slider is a line or page step of the control, reported as wx reports
// GTK's own steps; GTK would warp the slider to a trough click and animates an arrow's step by
// fractions, which the control's whole positions swallow. A press on the slider is GTK's (the drag).
gboolean OnScrollBarPress(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY)
        return FALSE;
    auto* bar = static_cast<wxScrollBar*>(data);
    const bool vertical = bar->IsVertical();
    GtkAllocation area;
    gtk_widget_get_allocation(widget, &area);
    const double along = vertical ? event->y : event->x;
    const int length = vertical ? area.height : area.width;
    int sliderStart = 0, sliderEnd = 0;
    gtk_range_get_slider_range(GTK_RANGE(widget), &sliderStart, &sliderEnd);
    wxEventType type;
    if (along < STEPPER_LENGTH)
        type = wxEVT_SCROLL_LINEUP;
    else if (along >= length - STEPPER_LENGTH)
        type = wxEVT_SCROLL_LINEDOWN;
    else if (along < sliderStart)
        type = wxEVT_SCROLL_PAGEUP;
    else if (along >= sliderEnd)
        type = wxEVT_SCROLL_PAGEDOWN;
    else
        return FALSE;
    SendScroll(bar, type);
    return TRUE;
}

// GTK moves the slider itself on the wheel, unseen by the control's owner; the wheel goes to the
// owner as the toolkit's wheel event instead, a notch (or a smooth delta of 1) being 120 units.
gboolean OnScrollBarWheel(GtkWidget*, GdkEvent* any, gpointer data) {
    if (any->type != GDK_SCROLL)
        return FALSE;
    GdkEventScroll* event = &any->scroll;
    auto* bar = static_cast<wxScrollBar*>(data);
    constexpr int NOTCH = 120;
    int rotation = 0;
    switch (event->direction) {
    case GDK_SCROLL_UP:
        rotation = NOTCH;
        break;
    case GDK_SCROLL_DOWN:
        rotation = -NOTCH;
        break;
    case GDK_SCROLL_SMOOTH: {
        double dx = 0, dy = 0;
        gdk_event_get_scroll_deltas(any, &dx, &dy);
        rotation = static_cast<int>(-dy * NOTCH);
        break;
    }
    default:
        return TRUE; // sideways: nothing moves
    }
    wxMouseEvent wheel(wxEVT_MOUSEWHEEL);
    wheel.SetEventObject(bar);
    wheel.SetId(bar->GetId());
    wheel.m_wheelRotation = rotation;
    wheel.m_wheelDelta = NOTCH;
    wheel.m_linesPerAction = 3;
    wheel.m_wheelAxis = wxMOUSE_WHEEL_VERTICAL;
    bar->HandleWindowEvent(wheel);
    return TRUE;
}

// The lower-case suffixes (".hex") of one filter's patterns ("*.hex;*.ihx"); empty when a pattern
// is anything but "*." and a suffix.
std::vector<std::string> PatternSuffixes(const wxString& patterns) {
    std::vector<std::string> suffixes;
    wxStringTokenizer tokens(patterns, ";");
    while (tokens.HasMoreTokens()) {
        const wxString token = tokens.GetNextToken().Trim().Trim(false);
        if (!token.StartsWith("*.") || token.find_first_of("*?[", 1) != wxString::npos)
            return {};
        suffixes.push_back(token.Mid(1).Lower().utf8_string());
    }
    return suffixes;
}

gboolean MatchesSuffixInAnyCase(const GtkFileFilterInfo* info, gpointer data) {
    if (!info->display_name)
        return FALSE;
    const std::string name = wxString::FromUTF8(info->display_name).Lower().utf8_string();
    for (const std::string& suffix : *static_cast<std::vector<std::string>*>(data))
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return TRUE;
    return FALSE;
}

void FreeSuffixes(gpointer data) {
    delete static_cast<std::vector<std::string>*>(data);
}

} // namespace

void FillGaugeHeight(wxGauge* gauge) {
    GtkWidget* widget = gauge->GetHandle();
    if (!widget)
        return;
    // The trough and the bar inside it take the control's height, less the trough's border.
    const int height = std::max(1, gauge->GetSize().y - 2);
    AddWidgetStyle(
        widget, "progressbar trough, progressbar progress { min-height: " + std::to_string(height) + "px; }");
}

void UsePagingScrollBar(wxScrollBar* scrollBar) {
    GtkWidget* widget = scrollBar->GetHandle();
    if (!widget)
        return;
    // The theme hides the arrows; shown, each is STEPPER_LENGTH long, at the very ends of the bar.
    const std::string length = std::to_string(STEPPER_LENGTH) + "px";
    std::string css = "scrollbar { -GtkScrollbar-has-backward-stepper: true;"
                      " -GtkScrollbar-has-forward-stepper: true; }";
    css += "scrollbar.vertical { padding-top: 0; padding-bottom: 0; border-top-width: 0;"
           " border-bottom-width: 0; }";
    css += "scrollbar.horizontal { padding-left: 0; padding-right: 0; border-left-width: 0;"
           " border-right-width: 0; }";
    css += "scrollbar button { margin: 0; padding: 0; border-width: 0; min-width: 0; min-height: 0; }";
    css += "scrollbar.vertical button { min-height: " + length + "; }";
    css += "scrollbar.horizontal button { min-width: " + length + "; }";
    AddWidgetStyle(widget, css);
    g_signal_connect(widget, "button-press-event", G_CALLBACK(OnScrollBarPress), scrollBar);
    // "event" comes before the range's own scroll controller.
    g_signal_connect(widget, "event", G_CALLBACK(OnScrollBarWheel), scrollBar);
}

void MatchFilterPatternsInAnyCase(wxFileDialog& dialog) {
    GtkWidget* widget = dialog.GetHandle();
    if (!widget || !GTK_IS_FILE_CHOOSER(widget))
        return;
    wxArrayString descriptions, patterns;
    wxParseCommonDialogsFilter(dialog.GetWildcard(), descriptions, patterns);
    GSList* filters = gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(widget));
    // The chooser's filters are the wildcard's, in its order; a rule added to a filter widens it.
    size_t index = 0;
    for (GSList* item = filters; item && index < patterns.size(); item = item->next, ++index) {
        auto suffixes = PatternSuffixes(patterns[index]);
        if (suffixes.empty())
            continue;
        gtk_file_filter_add_custom(GTK_FILE_FILTER(item->data), GTK_FILE_FILTER_DISPLAY_NAME,
                                   MatchesSuffixInAnyCase, new std::vector<std::string>(std::move(suffixes)),
                                   FreeSuffixes);
    }
    g_slist_free(filters);
}

void CentreOnParentWindow(wxFileDialog& dialog) {
    GtkWidget* widget = dialog.GetHandle();
    if (!widget || !GTK_IS_WINDOW(widget))
        return;
    wxWindow* parent = dialog.GetParent() ? wxGetTopLevelParent(dialog.GetParent()) : nullptr;
    if (parent && parent->GetHandle() && GTK_IS_WINDOW(parent->GetHandle()))
        gtk_window_set_transient_for(GTK_WINDOW(widget), GTK_WINDOW(parent->GetHandle()));
    gtk_window_set_position(GTK_WINDOW(widget), GTK_WIN_POS_CENTER_ON_PARENT);
}

void KeepOverOwner(wxWindow* window, wxWindow* owner) {
    GtkWidget* widget = window ? window->GetHandle() : nullptr;
    wxWindow* top = owner ? wxGetTopLevelParent(owner) : nullptr;
    GtkWidget* parent = top ? top->GetHandle() : nullptr;
    if (widget && parent && widget != parent && GTK_IS_WINDOW(widget) && GTK_IS_WINDOW(parent))
        gtk_window_set_transient_for(GTK_WINDOW(widget), GTK_WINDOW(parent));
}

void DrawOnOwnSurface(wxWindow* window) {
#ifdef GDK_WINDOWING_X11
    if (!window || !GDK_IS_X11_DISPLAY(gdk_display_get_default()))
        return;
    for (wxWindow* child : window->GetChildren())
        DrawOnOwnSurface(child);
    if (GdkWindow* surface = window->GTKGetDrawingWindow())
        gdk_window_ensure_native(surface);
#else
    (void)window;
#endif
}

wxImage RenderWindow(wxWindow* window) {
    GtkWidget* widget = window->GetHandle();
    if (!widget || !gtk_widget_get_realized(widget))
        return wxImage();
    GtkAllocation area;
    gtk_widget_get_allocation(widget, &area);
    if (area.width <= 0 || area.height <= 0)
        return wxImage();
    // A change of value may have left a layout pending, which drawing needs done: the same place.
    gtk_widget_size_allocate(widget, &area);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, area.width, area.height);
    cairo_t* cr = cairo_create(surface);
    // The background the widget is drawn over: the dialog's, as on screen.
    const wxColour back = window->GetParent() ? window->GetParent()->GetBackgroundColour() : *wxWHITE;
    cairo_set_source_rgb(cr, back.Red() / 255.0, back.Green() / 255.0, back.Blue() / 255.0);
    cairo_paint(cr);
    gtk_widget_draw(widget, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    wxImage image(area.width, area.height);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < area.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
        for (int x = 0; x < area.width; ++x)
            image.SetRGB(x, y, (row[x] >> 16) & 0xFF, (row[x] >> 8) & 0xFF, row[x] & 0xFF);
    }
    cairo_surface_destroy(surface);
    return image;
}
