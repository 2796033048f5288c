#include "app/TriageProgressView.h"

// GCC 12 reports a false -Wrestrict on inlined short-string assignments at high optimisation.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

#include <glib.h>

#include <limits>

#include "app/PanelText.h"
#include "app/TerminalPlaceholderView.h"
#include "platform/GLibPtr.h"

namespace zorvel {

namespace {

constexpr const char* toolSeparator = "  \xC2\xB7  ";

std::optional<std::string> localHoursAndMinutes(const std::string& text) {
  // Internet date-times, with or without fractional seconds; GLib takes both.
  if (text.empty()) return std::nullopt;
  platform::GDateTimePtr instant(g_date_time_new_from_iso8601(text.c_str(), nullptr));
  if (!instant) return std::nullopt;
  platform::GDateTimePtr local(g_date_time_to_local(instant.get()));
  if (!local) return std::nullopt;
  platform::GCharPtr formatted(g_date_time_format(local.get(), "%H:%M"));
  if (!formatted) return std::nullopt;
  return std::string(formatted.get());
}

// Token counts come from the page; two huge ones must not wrap into a negative total.
std::int64_t tokenSum(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return a > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

std::string countOrDash(const char* prefix, std::int64_t value) {
  return value < 1 ? std::string(prefix) + "\xE2\x80\x94" : std::string(prefix) + PanelText::compactNumber(value);
}

}  // namespace

TriageProgressView::TriageProgressView() : Gtk::Box(Gtk::Orientation::VERTICAL) {
  installPanelStyle();
  add_css_class("zorvel-panel");
  add_css_class("zorvel-triage-progress");
  set_halign(Gtk::Align::CENTER);
  set_valign(Gtk::Align::CENTER);

  stylePanelLabel(heading, "zorvel-panel-caption");
  stylePanelLabel(taskTitle, "zorvel-panel-title", 2);
  statusDot.add_css_class("zorvel-dot");
  statusDot.set_size_request(10, 10);
  statusDot.set_valign(Gtk::Align::CENTER);
  stylePanelLabel(statusLabel, "zorvel-panel-status");
  stylePanelLabel(statusDetail, "zorvel-panel-detail", 2);
  stylePanelLabel(statusUsage, "zorvel-panel-usage");
  stylePanelLabel(metrics, "zorvel-panel-metrics");
  stylePanelLabel(toolNamesLabel, "zorvel-panel-caption");
  stylePanelLabel(toolNames, "zorvel-panel-mono", 2);
  stylePanelLabel(outputLabel, "zorvel-panel-caption");
  stylePanelLabel(output, "zorvel-panel-mono", 5);
  actions.set_editable(false);
  actions.set_cursor_visible(false);
  actions.set_monospace(true);
  actions.set_wrap_mode(Gtk::WrapMode::WORD_CHAR);
  actions.set_top_margin(2);
  actions.set_bottom_margin(2);
  actions.add_css_class("zorvel-panel-detail");
  actionsScrollView.set_child(actions);
  actionsScrollView.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  actionsScrollView.set_size_request(-1, 180);
  skipButton.set_halign(Gtk::Align::START);
  skipButton.signal_clicked().connect([this] { skipTriage(); });

  header.append(heading);
  header.append(taskTitle);
  statusTexts.append(statusLabel);
  statusTexts.append(statusDetail);
  statusTexts.append(statusUsage);
  statusRow.append(statusDot);
  statusRow.append(statusTexts);
  toolsGroup.append(toolNamesLabel);
  toolsGroup.append(toolNames);
  outputGroup.append(outputLabel);
  outputGroup.append(output);
  for (Gtk::Widget* item : std::initializer_list<Gtk::Widget*>{&header, &statusRow, &metrics, &toolsGroup, &outputGroup,
                                                               &actionsScrollView, &skipButton}) {
    content.append(*item);
  }
  content.set_margin_start(36);
  content.set_margin_end(36);
  content.set_margin_top(26);
  content.set_valign(Gtk::Align::START);
  append(content);
}

void TriageProgressView::skipTriage() {
  if (auto action = onSkip) action();
}

std::string TriageProgressView::headingText(const std::string& kind) {
  if (kind == "triage") return "TRIAGE";
  if (kind == "triage_complete") return "TRIAGE COMPLETE";
  return "SCHEDULED CHECK";
}

std::pair<std::string, bool> TriageProgressView::statusText(const TriageDisplay& triage) {
  if (triage.kind == "triage_complete") return {"Initial analysis complete", false};
  if (triage.kind != "triage") return {"Scheduled check in progress", false};
  if (!triage.inProgress) return {"Waiting for an available triage slot", false};
  bool noProgress = !triage.status && triage.toolCallCount == 0 && triage.totalTokens == 0 &&
                    triage.outputTokens == 0 && !triage.currentUsage;
  if (noProgress && triage.recentActions.empty()) return {"Waiting for LLM response", true};
  return {"Analysis in progress", false};
}

std::optional<std::string> TriageProgressView::triageStatus(const TriageDisplay& triage) {
  if (!triage.status || triage.status->empty()) return std::nullopt;
  if (triage.statusAt) {
    if (auto time = localHoursAndMinutes(*triage.statusAt)) return *time + " " + *triage.status;
  }
  return *triage.status;
}

std::string TriageProgressView::usageSummary(const AgentActionDisplay& action) {
  return countOrDash("\xCE\x94", tokenSum(action.inputTokens, action.outputTokens)) + "  " +
         countOrDash("\xCE\xA3", tokenSum(action.totalInputTokens, action.totalOutputTokens));
}

std::string TriageProgressView::actionHistory(const std::vector<AgentActionDisplay>& actions) {
  if (actions.empty()) return "Updates will appear here as the analysis progresses.";
  std::vector<std::string> lines;
  size_t first = actions.size() > 50 ? actions.size() - 50 : 0;
  for (size_t i = first; i < actions.size(); ++i) {
    const auto& action = actions[i];
    std::int64_t call = tokenSum(action.inputTokens, action.outputTokens);
    std::string delta = call < 1 ? "\xE2\x80\x94" : "+" + PanelText::compactNumber(call);
    std::string total = countOrDash("\xCE\xA3", tokenSum(action.totalInputTokens, action.totalOutputTokens));
    lines.push_back(actionTime(action.createdAt) + "  \xCE\x94" + delta + "  " + total + "  " +
                    PanelText::truncatePreviewLine(action.action, 42));
  }
  return PanelText::joinLines(lines);
}

std::string TriageProgressView::actionTime(const std::string& text) {
  return localHoursAndMinutes(text).value_or("--:--");
}

std::string TriageProgressView::outputPreview(const std::optional<std::string>& text) {
  return PanelText::outputPreview(text, 5);
}

std::string TriageProgressView::toolNamesText(const std::vector<std::string>& names, const char* none) {
  if (names.empty()) return none;
  std::vector<std::string> shown(names.begin(), names.begin() + static_cast<long>(std::min<size_t>(names.size(), 6)));
  return PanelText::joinLines(shown, toolSeparator);
}

std::string TriageProgressView::metricsText(std::int64_t toolCalls, std::int64_t totalTokens,
                                            std::int64_t outputTokens) {
  return "Tools: " + std::to_string(toolCalls) + "    Tokens: " + PanelText::compactNumber(totalTokens) +
         "    Output: " + PanelText::compactNumber(outputTokens);
}

void TriageProgressView::configure(const std::string& title, const TriageDisplay& triage) {
  taskTitle.set_text(title);
  heading.set_text(headingText(triage.kind));
  auto [status, waiting] = statusText(triage);
  statusLabel.set_text(status);
  std::string detail;
  if (auto timed = triageStatus(triage)) {
    detail = PanelText::shortStatusDetail(*timed);
  } else if (waiting) {
    detail = "Agent process is running. Waiting for the first model response\xE2\x80\xA6";
  }
  statusDetail.set_text(detail);
  statusDetail.set_visible(!detail.empty());
  statusUsage.set_text(triage.currentUsage ? usageSummary(*triage.currentUsage) : "");
  statusUsage.set_visible(triage.currentUsage.has_value());
  setStatusDotColor(statusDot, triage.inProgress                  ? StatusDotColor::teal
                               : triage.kind == "triage_complete" ? StatusDotColor::green
                                                                  : StatusDotColor::orange);
  auto buffer = actions.get_buffer();
  buffer->set_text(actionHistory(triage.recentActions));
  auto end = buffer->create_mark(buffer->end(), false);
  actions.scroll_to(end);
  buffer->delete_mark(end);
  metrics.set_text(metricsText(triage.toolCallCount, triage.totalTokens, triage.outputTokens));
  toolNames.set_text(toolNamesText(triage.toolCallNames, "No completed tool calls reported yet."));
  output.set_text(outputPreview(triage.outputPreview));
  skipButton.set_visible(triage.kind == "triage" && triage.canSkip);
  updatePulse(triage.inProgress);
}

void TriageProgressView::updatePulse(bool isRunning) {
  statusDot.remove_css_class("zorvel-pulse");
  if (isRunning) statusDot.add_css_class("zorvel-pulse");
}

}  // namespace zorvel
