#include "app/ZorvelApplication.h"

#include <glib-unix.h>
#include <signal.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "Vantrelle/View/WindowRenderer.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/GLibPtr.h"
#include "platform/Log.h"

namespace zorvel {

namespace {

const platform::Logger& lifecycleLog() {
  static const platform::Logger log("local.zorvel.desktop", "lifecycle");
  return log;
}

std::optional<std::string> usableID(const std::optional<std::string>& id) {
  if (id && g_application_id_is_valid(id->c_str())) return id;
  return std::nullopt;
}

// Registration blocks while it asks the owner of the name to describe itself; an owner that
// never answers must not hold a launch for ever, so the call is cancelled after a while.
bool registerWithin(GApplication* application, std::chrono::seconds timeout, GErrorPtr& failure) {
  GObjectPtr<GCancellable> cancellable(g_cancellable_new());
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread timer([&] {
    std::unique_lock guard(mutex);
    if (!finished.wait_for(guard, timeout, [&] { return done; })) g_cancellable_cancel(cancellable.get());
  });
  GError* error = nullptr;
  bool registered = g_application_register(application, cancellable.get(), &error);
  {
    std::lock_guard guard(mutex);
    done = true;
  }
  finished.notify_all();
  timer.join();
  failure.reset(error);
  return registered;
}

}  // namespace

ZorvelApplication::ZorvelApplication(const std::optional<std::string>& applicationID)
    // One instance per user session: the name is owned on the session bus, which belongs to this
    // user's session alone, so instances of other sessions and other users never meet this one.
    : Gtk::Application(usableID(applicationID).value_or(""), usableID(applicationID)
                                                                 ? Gio::Application::Flags::DEFAULT_FLAGS
                                                                 : Gio::Application::Flags::NON_UNIQUE) {}

Glib::RefPtr<ZorvelApplication> ZorvelApplication::create(const std::optional<std::string>& applicationID) {
  // A write to a core or child that has gone must fail with EPIPE, not end the application.
  ::signal(SIGPIPE, SIG_IGN);
  return Glib::make_refptr_for_instance(new ZorvelApplication(applicationID));
}

void ZorvelApplication::setDelegate(std::shared_ptr<ZorvelAppDelegate> newDelegate) {
  delegate = std::move(newDelegate);
  delegate->application = this;
  delegate->terminateApplication = [this] { terminate(); };
}

void ZorvelApplication::registerInstance() {
  auto* application = G_APPLICATION(gobj());
  GErrorPtr failure;
  if (registerWithin(application, instanceReplyTimeout, failure)) return;
  // The name is held by an instance that does not answer (hung, or going away): rather than
  // exit with nothing to show, this launch runs on its own.
  lifecycleLog().error("Could not reach the Zorvel already running in this session (%{public}s); starting anyway",
                       failure ? failure->message : "unknown error");
  g_application_set_flags(
      application, static_cast<GApplicationFlags>(g_application_get_flags(application) | G_APPLICATION_NON_UNIQUE));
  failure.reset();
  registerWithin(application, instanceReplyTimeout, failure);
}

int ZorvelApplication::runSingleInstance(int argc, char* argv[]) {
  registerInstance();
  if (isRemoteInstance()) {
    // The hand-over is the delegate's launch path; nothing of this process's own UI is built.
    if (delegate) delegate->applicationDidFinishLaunching();
    // Running a remote instance activates the running one the way the desktop activates an
    // application, as that request carries this launch's startup id or activation token: without
    // it the desktop shows the launch as busy until it gives up, and may keep the window it raises
    // behind others. Running also lets go of the bus as GLib expects before this object goes.
    return run(argc, argv);
  }
  return run(argc, argv);
}

bool ZorvelApplication::isRemoteInstance() const {
  auto* application = G_APPLICATION(const_cast<GtkApplication*>(gobj()));
  return g_application_get_is_registered(application) && g_application_get_is_remote(application);
}

void ZorvelApplication::terminate() {
  if (delegate && delegate->applicationShouldTerminate() != ZorvelAppDelegate::TerminateReply::terminateNow) {
    return;
  }
  for (auto* window : get_windows()) window->set_visible(false);
  quit();
}

void ZorvelApplication::on_startup() {
  Gtk::Application::on_startup();
  vantrelle::preferCairoOnSoftwareGL(*this);
  auto onSignal = [](gpointer data) -> gboolean {
    static_cast<ZorvelApplication*>(data)->terminate();
    return G_SOURCE_CONTINUE;
  };
  g_unix_signal_add(SIGTERM, onSignal, this);
  g_unix_signal_add(SIGINT, onSignal, this);
  // The hang-up of the terminal the application was started from ends it as the others do, through
  // the termination sequence, so nothing it started is left behind; unless it was started to
  // ignore that hang-up (nohup), which it then goes on ignoring.
  struct sigaction hangUp {};
  if (::sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN) {
    g_unix_signal_add(SIGHUP, onSignal, this);
  }
  if (delegate) delegate->applicationWillFinishLaunching();
}

void ZorvelApplication::on_activate() {
  if (!delegate) return;
  if (activated) {
    // Another launch of this session asked for the window (the desktop shell's own activation).
    delegate->activateExistingDesktop();
    return;
  }
  activated = true;
  // The hand-over path opens no window; hold the application until the delegate decides.
  hold();
  delegate->applicationDidFinishLaunching();
  release();
}

void ZorvelApplication::on_shutdown() {
  if (delegate) delegate->applicationWillTerminate();
  Gtk::Application::on_shutdown();
}

}  // namespace zorvel
