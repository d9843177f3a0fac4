// A helper plug-in for Audacious's GTK interface, not shipped: once the
// interface runs it opens Tamboril's preferences page, waits for it to be
// drawn, saves the window as a PNG (to the file named by
// TAMBORIL_SNAPSHOT_PNG), and quits Audacious. Used under Xvfb for the
// README's screenshot and to check that the page opens.
#include <gtk/gtk.h>
#include <libaudcore/plugin.h>
#include <libaudcore/plugins.h>
#include <libaudcore/runtime.h>
#include <libaudgui/libaudgui.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned kOpenDelayMs = 300;  // let the main window come up first
constexpr unsigned kDrawDelayMs = 700;  // let the page be laid out and drawn

GtkWindow* FindPreferencesWindow() {
    GtkWindow* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        const char* title = gtk_window_get_title(window);
        if (title != nullptr && std::strstr(title, "Tamboril") != nullptr &&
            gtk_widget_get_visible(GTK_WIDGET(window)))
            found = window;
    }
    g_list_free(windows);
    return found;
}

gboolean SaveAndQuit(void*) {
    const char* path = std::getenv("TAMBORIL_SNAPSHOT_PNG");
    GtkWindow* window = FindPreferencesWindow();
    if (window != nullptr && path != nullptr) {
        GtkWidget* widget = GTK_WIDGET(window);
        GtkAllocation size;
        gtk_widget_get_allocation(widget, &size);
        GdkPixbuf* picture = gdk_pixbuf_get_from_drawable(
            nullptr, gtk_widget_get_window(widget), nullptr, 0, 0, 0, 0, size.width, size.height);
        if (picture != nullptr) {
            gdk_pixbuf_save(picture, path, "png", nullptr, nullptr);
            g_object_unref(picture);
        }
    }
    aud_quit();
    return FALSE;
}

gboolean OpenPreferences(void*) {
    PluginHandle* tamboril = aud_plugin_lookup_basename("tamboril");
    if (tamboril != nullptr) audgui_show_plugin_prefs(tamboril);
    g_timeout_add(kDrawDelayMs, SaveAndQuit, nullptr);
    return FALSE;
}

}  // namespace

class PrefsSnapshot : public GeneralPlugin {
public:
    static constexpr PluginInfo kInfo = {"Tamboril preferences snapshot", nullptr, nullptr, nullptr,
                                         PluginGLibOnly};
    constexpr PrefsSnapshot() : GeneralPlugin(kInfo, true) {}

    bool init() override {
        g_timeout_add(kOpenDelayMs, OpenPreferences, nullptr);
        return true;
    }
};

__attribute__((visibility("default"))) PrefsSnapshot aud_plugin_instance;
