#include <algorithm>

#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Graphics/KittyGraphicsReplies.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

// A fresh id for an image sent with a number; never 0 and never one already in use.
uint32_t takeFreshImageId(KittyGraphicsState& state) {
  for (size_t attempts = 0; attempts <= state.imagesById.size() + 1; ++attempts) {
    uint32_t id = state.nextImageId++;
    if (id != 0 && !state.imagesById.contains(id)) return id;
  }
  return state.nextImageId++;  // unreachable: the store holds fewer than 2^32 images
}

void sendKittyReply(Terminal& terminal, const std::string& body) {
  static constexpr uint8_t apc7[] = {0x1B, '_'};
  static constexpr uint8_t st7[] = {0x1B, '\\'};
  static constexpr uint8_t apc8[] = {0x9F};
  static constexpr uint8_t st8[] = {0x9C};
  std::span<const uint8_t> text(reinterpret_cast<const uint8_t*>(body.data()), body.size());
  if (terminal.cc.send8bit) {
    terminal.sendResponse({std::span<const uint8_t>(apc8), text, std::span<const uint8_t>(st8)});
  } else {
    terminal.sendResponse({std::span<const uint8_t>(apc7), text, std::span<const uint8_t>(st7)});
  }
}

// Asked before and after every command, so it looks only at the keys virtual placements were
// made under, dropping those whose record has gone or been replaced since.
bool hasVirtualPlacement(KittyGraphicsState& state) {
  auto& keys = state.virtualKeys;
  for (auto key = keys.begin(); key != keys.end();) {
    auto found = state.placementsByKey.find(*key);
    if (found != state.placementsByKey.end() && found->second.isVirtual) return true;
    key = keys.erase(key);
  }
  return false;
}

// Placeholder characters show whatever their image and virtual placement are when the row is
// drawn, yet a command that changes those leaves the rows' text alone: while any virtual
// placement exists, or existed before the command, every row is drawn again.
void processAndRedrawPlaceholders(Terminal& terminal, const KittyGraphicsControl& control,
                                  KittyCommandPayload payload) {
  bool hadVirtual = hasVirtualPlacement(terminal.kittyGraphicsState);
  processKittyGraphics(terminal, control, std::move(payload));
  if (hadVirtual || hasVirtualPlacement(terminal.kittyGraphicsState)) terminal.refresh(0, terminal.rows - 1);
}

}  // namespace

void handleKittyGraphicsCommand(Terminal& terminal, std::span<const uint8_t> content) {
  auto command = parseKittyGraphicsControl(content);
  auto& state = terminal.kittyGraphicsState;
  if (command.control.action == 'd' || command.control.action == 'D') state.pending.reset();
  if (command.control.more == 1) {
    if (!state.pending) state.pending = KittyGraphicsPending{command.control};
    state.pending->payload.append(command.payload);
    state.pending->payload.endChunk();
    return;
  }
  if (!state.pending) {
    processAndRedrawPlaceholders(terminal, command.control, command.payload);
    return;
  }
  // The last chunk completes the transfer; its own keys are ignored.
  KittyGraphicsPending pending = std::move(*state.pending);
  state.pending.reset();
  pending.payload.append(command.payload);
  processAndRedrawPlaceholders(terminal, pending.control, KittyCommandPayload::decoded(pending.payload.finish()));
}

void processKittyGraphics(Terminal& terminal, const KittyGraphicsControl& control, KittyCommandPayload payload) {
  switch (control.action) {
    case 't':
      handleKittyTransmit(terminal, control, std::move(payload), false);
      break;
    case 'T':
      handleKittyTransmit(terminal, control, std::move(payload), true);
      break;
    case 'q': {
      // A client asks whether a medium works: the payload is loaded as a transmission would load
      // it, files and objects read and removed alike, and then let go.
      auto loaded = loadKittyPayload(control, std::move(payload));
      if (loaded.payload) {
        sendKittyOk(terminal, control, control.imageId, control.imageNumber, control.placementId);
      } else {
        sendKittyError(terminal, control, loaded.errorMessage.value_or(KittyMessage::badPayload));
      }
      break;
    }
    case 'p':
      handleKittyPut(terminal, control);
      break;
    case 'd':
    case 'D':
      handleKittyDelete(terminal, control);
      break;
    default:
      sendKittyError(terminal, control, KittyMessage::unsupportedAction);
      break;
  }
}

void handleKittyTransmit(Terminal& terminal, const KittyGraphicsControl& control, KittyCommandPayload payload,
                         bool display) {
  if (control.imageId && control.imageNumber) {
    sendKittyError(terminal, control, KittyMessage::idAndNumber);
    return;
  }
  auto loaded = loadKittyPayload(control, std::move(payload));
  if (!loaded.payload) {
    sendKittyError(terminal, control, loaded.errorMessage.value_or(KittyMessage::badPayload));
    return;
  }
  auto& state = terminal.kittyGraphicsState;
  std::optional<uint32_t> id;
  if (control.imageNumber) {
    id = takeFreshImageId(state);
  } else if (control.imageId) {
    id = control.imageId;
  } else {
    // Nothing to store it under: a plain transmit ends here; a display shows it once.
    if (display) displayKittyImage(terminal, *loaded.payload, control, std::nullopt, std::nullopt);
    return;
  }
  KittyGraphicsPayload image = *loaded.payload;
  storeKittyImage(terminal, std::move(*loaded.payload), *id, control.imageNumber);
  if (!display || displayKittyImage(terminal, image, control, id, control.imageNumber)) {
    sendKittyOk(terminal, control, id, control.imageNumber, control.placementId);
  }
}

void sendKittyOk(Terminal& terminal, const KittyGraphicsControl& control, std::optional<uint32_t> imageId,
                 std::optional<uint32_t> imageNumber, std::optional<uint32_t> placementId) {
  if (control.suppressResponses != 0) return;
  sendKittyReply(terminal, kittyOkBody(imageId, imageNumber, placementId));
}

void sendKittyError(Terminal& terminal, const KittyGraphicsControl& control, std::string_view message) {
  if (control.suppressResponses != 0) return;
  sendKittyReply(terminal, kittyErrorBody(control, message));
}

}  // namespace vantrelle
