#include "app/TerminalPlaceholderView.h"

#include "app/PanelText.h"

namespace zorvel {

namespace {

constexpr const char* panelStyle = R"css(
.zorvel-panel {
  background-color: alpha(@theme_bg_color, 0.88);
  border: 1px solid alpha(@theme_fg_color, 0.15);
  border-radius: 18px;
}
.zorvel-panel-caption { font-size: 10pt; font-weight: 600; color: alpha(@theme_fg_color, 0.45); }
.zorvel-panel-title { font-size: 17pt; font-weight: 600; }
.zorvel-panel-status { font-size: 13pt; font-weight: 500; }
.zorvel-panel-detail { font-family: monospace; font-size: 11pt; color: alpha(@theme_fg_color, 0.65); }
.zorvel-panel-usage { font-family: monospace; font-size: 10pt; color: alpha(@theme_fg_color, 0.45); }
.zorvel-panel-metrics { font-family: monospace; font-size: 12pt; font-weight: 500; color: alpha(@theme_fg_color, 0.65); }
.zorvel-panel-mono { font-family: monospace; font-size: 12pt; color: alpha(@theme_fg_color, 0.65); }
.zorvel-panel-button { font-family: monospace; font-size: 11pt; font-weight: 600; }
.zorvel-panel-start { color: #30b0c7; }
.zorvel-dot { min-width: 10px; min-height: 10px; border-radius: 5px; }
.zorvel-dot-grey { background-color: #8e8e93; }
.zorvel-dot-red { background-color: #ff3b30; }
.zorvel-dot-green { background-color: #34c759; }
.zorvel-dot-teal { background-color: #30b0c7; }
.zorvel-dot-orange { background-color: #ff9500; }
@keyframes zorvel-triage-pulse { from { transform: scale(0.75); } to { transform: scale(1.25); } }
.zorvel-pulse { animation: zorvel-triage-pulse 0.9s ease-in-out infinite alternate; }
)css";

}  // namespace

void installPanelStyle() {
  static bool installed = false;
  auto display = Gdk::Display::get_default();
  if (installed || !display) return;
  installed = true;
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(panelStyle);
  Gtk::StyleContext::add_provider_for_display(display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void setStatusDotColor(Gtk::Widget& dot, StatusDotColor color) {
  static constexpr const char* classes[] = {"zorvel-dot-grey", "zorvel-dot-red", "zorvel-dot-green", "zorvel-dot-teal",
                                            "zorvel-dot-orange"};
  for (const char* name : classes) dot.remove_css_class(name);
  dot.add_css_class(classes[static_cast<int>(color)]);
}

void stylePanelLabel(Gtk::Label& label, const char* styleClass, int maxLines, bool wrap) {
  label.add_css_class(styleClass);
  label.set_xalign(0);
  label.set_halign(Gtk::Align::START);
  label.set_wrap(wrap || maxLines > 1);
  // Titles, details, states and tool output come from the page and the core: a word too long for
  // the panel breaks anywhere and a line that does not fit ends in an ellipsis, where one long
  // word (a URL for a title) made the panel wider than the terminal area, cut off at its edge.
  label.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
  label.set_lines(maxLines);
  label.set_ellipsize(Pango::EllipsizeMode::END);
}

TerminalPlaceholderView::TerminalPlaceholderView() : Gtk::Box(Gtk::Orientation::VERTICAL) {
  installPanelStyle();
  add_css_class("zorvel-panel");
  add_css_class("zorvel-placeholder");
  set_halign(Gtk::Align::CENTER);
  set_valign(Gtk::Align::CENTER);

  stylePanelLabel(heading, "zorvel-panel-caption");
  stylePanelLabel(taskTitle, "zorvel-panel-title", 2);
  statusDot.add_css_class("zorvel-dot");
  statusDot.set_size_request(10, 10);
  statusDot.set_valign(Gtk::Align::CENTER);
  setStatusDotColor(statusDot, StatusDotColor::grey);
  stylePanelLabel(status, "zorvel-panel-status");
  stylePanelLabel(detail, "zorvel-panel-detail", 2);
  stylePanelLabel(metrics, "zorvel-panel-metrics");
  stylePanelLabel(toolNamesLabel, "zorvel-panel-caption");
  stylePanelLabel(toolNames, "zorvel-panel-mono", 2);
  stylePanelLabel(outputLabel, "zorvel-panel-caption");
  stylePanelLabel(output, "zorvel-panel-mono", 4);
  startButton.add_css_class("zorvel-panel-button");
  startButton.add_css_class("zorvel-panel-start");
  secondaryButton.add_css_class("zorvel-panel-button");
  startButton.signal_clicked().connect([this] { startRequested(); });
  secondaryButton.signal_clicked().connect([this] { secondaryRequested(); });

  header.append(heading);
  header.append(taskTitle);
  statusRow.append(statusDot);
  statusRow.append(status);
  toolsGroup.append(toolNamesLabel);
  toolsGroup.append(toolNames);
  outputGroup.append(outputLabel);
  outputGroup.append(output);
  statistics.append(metrics);
  statistics.append(toolsGroup);
  statistics.append(outputGroup);
  statisticsStack = &statistics;
  buttonRow.append(startButton);
  buttonRow.append(secondaryButton);
  content.append(header);
  content.append(statusRow);
  content.append(detail);
  content.append(statistics);
  content.append(buttonRow);
  content.set_margin_start(36);
  content.set_margin_end(36);
  content.set_margin_top(28);
  content.set_vexpand(true);
  content.set_valign(Gtk::Align::START);
  append(content);
}

void TerminalPlaceholderView::setContent(const PlaceholderContent& content) {
  taskTitle.set_text(content.title);
  status.set_text(content.status);
  setStatusDotColor(statusDot, content.dot);
  detail.set_text(content.detail);
  auto showAction = [](Gtk::Button& button, const PlaceholderAction& action) {
    button.set_label(action.label);
    button.set_visible(action.shown);
    button.set_sensitive(action.shown);
  };
  showAction(startButton, content.start);
  showAction(secondaryButton, content.secondary);
  onStart = content.start.run;
  onSecondary = content.secondary.run;
  preferredHeight = content.statistics ? 388 : 224;
  statisticsStack->set_visible(content.statistics.has_value());
  if (content.statistics) {
    metrics.set_text(content.statistics->metrics);
    toolNames.set_text(content.statistics->toolNames);
    output.set_text(content.statistics->output);
  }
}

void TerminalPlaceholderView::startRequested() {
  // A copy, so a callback that replaces the panel's callbacks keeps itself alive while it runs.
  if (auto action = onStart) action();
}

void TerminalPlaceholderView::secondaryRequested() {
  if (auto action = onSecondary) action();
}

std::string TerminalPlaceholderView::compactNumber(std::int64_t value) { return PanelText::compactNumber(value); }

std::string TerminalPlaceholderView::outputPreview(const std::optional<std::string>& text) {
  return PanelText::outputPreview(text, 4);
}

}  // namespace zorvel
