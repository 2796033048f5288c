#pragma once

#include <gtkmm.h>

#include <memory>

namespace zorvel {

class ZorvelAppDelegate;

// The GTK application: it hands its life-cycle to the delegate and routes every way of quitting
// (the Quit item, closing the window, SIGTERM and SIGINT) through the delegate's termination
// request.
class ZorvelApplication : public Gtk::Application {
 public:
  static Glib::RefPtr<ZorvelApplication> create();
  void setDelegate(std::shared_ptr<ZorvelAppDelegate> delegate);
  // Asks the delegate whether to quit, then quits.
  void terminate();

 protected:
  ZorvelApplication();
  void on_startup() override;
  void on_activate() override;
  void on_shutdown() override;

 private:
  std::shared_ptr<ZorvelAppDelegate> delegate;
  bool activated = false;
};

}  // namespace zorvel
