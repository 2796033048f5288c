#include "app/InstallCheck.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "app/TextEncoding.h"
#include "platform/Bundle.h"

namespace zorvel::InstallCheck {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> missingPiece(const fs::path& resources) {
  std::error_code error;
  if (!fs::is_directory(resources, error)) return "its resource folder " + resources.string() + " does not exist";
  const fs::path bridge = resources / "native-bridge.js";
  std::ifstream in(bridge, std::ios::binary);
  if (!in) return "the bridge script " + bridge.string() + " is missing or cannot be read";
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!isValidUTF8(text)) return "the bridge script " + bridge.string() + " is damaged (it is not UTF-8 text)";
  const fs::path page = resources / "ui" / "index.html";
  if (!fs::is_regular_file(page, error)) return "the page " + page.string() + " is missing";
  return std::nullopt;
}

// A window of the caller's own. GTK keeps a toplevel until it is destroyed, and destroys it itself
// when it is closed; the holder's reference keeps the object for the holder to destroy either way.
struct DestroyWindow {
  void operator()(GtkWindow* window) const {
    gtk_window_destroy(window);
    g_object_unref(window);
  }
};
using WindowPtr = std::unique_ptr<GtkWindow, DestroyWindow>;

// GTK 4.8 has no alert dialog of its own; the message dialog is the one it offers.
void showWindow(const std::string& problem) {
  WindowPtr dialog(GTK_WINDOW(g_object_ref(
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE, "Zorvel cannot start"))));
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog.get()), "%s", problem.c_str());
  gtk_window_set_title(dialog.get(), "Zorvel");
  bool answered = false;
  g_signal_connect(dialog.get(), "response", G_CALLBACK(+[](GtkDialog*, int, bool* done) { *done = true; }), &answered);
  gtk_window_present(dialog.get());
  while (!answered) g_main_context_iteration(nullptr, TRUE);
}

}  // namespace

std::optional<std::string> problem(const platform::Bundle& bundle) {
  const auto piece = missingPiece(bundle.resourcePath());
  if (!piece) return std::nullopt;
  const std::string executable = bundle.executablePath().empty() ? "zorvel-desktop" : bundle.executablePath();
  return "This installation of Zorvel is incomplete: " + *piece + ". " + executable +
         " runs only from its install tree, with its resources in share/zorvel beside the bin folder that holds it. "
         "Reinstall Zorvel, or start the program where it was installed.";
}

int report(const std::string& problem) {
  std::cerr << "zorvel-desktop: " << problem << std::endl;
  if (gtk_init_check()) showWindow(problem);
  return EXIT_FAILURE;
}

}  // namespace zorvel::InstallCheck
