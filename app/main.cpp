#include <gtkmm/application.h>
#include <gtkmm/applicationwindow.h>

int main(int argc, char* argv[]) {
  auto app = Gtk::Application::create("local.zorvel.desktop");
  app->signal_activate().connect([&app] {
    auto* window = new Gtk::ApplicationWindow();
    window->set_title("Zorvel");
    window->set_default_size(1400, 820);
    app->add_window(*window);
    window->present();
  });
  return app->run(argc, argv);
}
