#pragma once

#include <gtkmm.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace zorvel {

class ZorvelAppDelegate;

// The GTK application: it hands its life-cycle to the delegate and routes every way of quitting
// (the Quit item and its keys, closing the window, SIGTERM, SIGINT and SIGHUP) through the
// delegate's termination request.
class ZorvelApplication : public Gtk::Application {
 public:
  // How long a second launch waits for the running instance to answer before it runs on its own.
  static constexpr std::chrono::seconds instanceReplyTimeout{5};

  // Unique on the session bus under `applicationID` (the bundle identifier); without one, or
  // with one that is no valid bus name, every launch runs on its own.
  static Glib::RefPtr<ZorvelApplication> create(const std::optional<std::string>& applicationID);
  void setDelegate(std::shared_ptr<ZorvelAppDelegate> delegate);
  // Registers this instance on the session bus, then either runs it or, when another instance of
  // this session owns the name, hands over to that one and returns.
  int runSingleInstance(int argc, char* argv[]);
  // Whether another instance of this user session holds the application's name.
  bool isRemoteInstance() const;
  // Asks the delegate whether to quit, then quits.
  void terminate();

 protected:
  explicit ZorvelApplication(const std::optional<std::string>& applicationID);
  void on_startup() override;
  void on_activate() override;
  void on_shutdown() override;

 private:
  void registerInstance();

  std::shared_ptr<ZorvelAppDelegate> delegate;
  bool activated = false;
};

}  // namespace zorvel
