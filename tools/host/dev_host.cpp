#include "tools/host/dev_host.h"

#include <cstring>
#include <utility>

#include <nlohmann/json.hpp>

namespace devhost {

const char *KindName(Event::Kind kind) {
  switch (kind) {
  case Event::Kind::InterfaceRequest:
    return "interface";
  case Event::Kind::DeviceAdded:
    return "device_added";
  case Event::Kind::Log:
    return "log";
  case Event::Kind::Property:
    return "property";
  case Event::Kind::ComponentCreated:
    return "component";
  case Event::Kind::BooleanUpdate:
    return "boolean";
  case Event::Kind::ScalarUpdate:
    return "scalar";
  case Event::Kind::PoseUpdate:
    return "pose";
  }
  return "?";
}

DevHost::DevHost() : start_(std::chrono::steady_clock::now()) {}

double DevHost::Now() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void DevHost::SetListener(std::function<void(const Event &)> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void DevHost::Record(Event event) {
  event.seconds = Now();
  std::lock_guard lock(mutex_);
  events_.push_back(event);
  if (listener_) listener_(events_.back());
  changed_.notify_all();
}

std::vector<Event> DevHost::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<Event> DevHost::EventsOf(Event::Kind kind) const {
  std::lock_guard lock(mutex_);
  std::vector<Event> out;
  for (const Event &e : events_)
    if (e.kind == kind) out.push_back(e);
  return out;
}

std::vector<std::string> DevHost::LogLines() const {
  std::vector<std::string> out;
  for (const Event &e : EventsOf(Event::Kind::Log)) out.push_back(e.text);
  return out;
}

void DevHost::ClearEvents() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

size_t DevHost::CountLogLocked(const std::string &line) const {
  size_t seen = 0;
  for (const Event &e : events_)
    if (e.kind == Event::Kind::Log && e.text == line) ++seen;
  return seen;
}

bool DevHost::WaitForLog(const std::string &line, std::chrono::milliseconds timeout, size_t count) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return CountLogLocked(line) >= count; });
}

size_t DevHost::CountLog(const std::string &line) const {
  std::lock_guard lock(mutex_);
  return CountLogLocked(line);
}

std::string DevHost::ComponentName(vr::VRInputComponentHandle_t handle) const {
  std::lock_guard lock(mutex_);
  for (const auto &[h, name] : components_)
    if (h == handle) return name;
  return {};
}

void *DevHost::GetGenericInterface(const char *pchInterfaceVersion, vr::EVRInitError *peError) {
  const std::string version = pchInterfaceVersion ? pchInterfaceVersion : "";
  void *found = withheld_.count(version) ? nullptr : Offered(version.c_str());
  if (peError) *peError = found ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
  Event e{Event::Kind::InterfaceRequest};
  e.text = version;
  e.granted = found != nullptr;
  Record(std::move(e));
  return found;
}

bool DevHost::TrackedDeviceAdded(const char *pchDeviceSerialNumber, vr::ETrackedDeviceClass eDeviceClass,
                                 vr::ITrackedDeviceServerDriver *pDriver) {
  {
    std::lock_guard lock(mutex_);
    device_ = pDriver;
  }
  Event e{Event::Kind::DeviceAdded};
  e.text = pchDeviceSerialNumber ? pchDeviceSerialNumber : "";
  e.number = eDeviceClass;
  Record(std::move(e));
  return true;
}

void DevHost::TrackedDevicePoseUpdated(uint32_t unWhichDevice, const vr::DriverPose_t &newPose,
                                       uint32_t unPoseStructSize) {
  Event e{Event::Kind::PoseUpdate};
  e.number = unWhichDevice;
  e.pose = newPose;
  e.size = unPoseStructSize;
  Record(std::move(e));
}

vr::ETrackedPropertyError DevHost::WritePropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                      vr::PropertyWrite_t *pBatch, uint32_t unBatchEntryCount) {
  for (uint32_t i = 0; pBatch && i < unBatchEntryCount; ++i) {
    vr::PropertyWrite_t &w = pBatch[i];
    Event e{Event::Kind::Property};
    e.handle = ulContainerHandle;
    e.number = w.prop;
    e.size = w.unBufferSize;
    e.tag = w.unTag;
    if (w.unTag == vr::k_unStringPropertyTag && w.pvBuffer && w.unBufferSize)
      e.stringValue.assign(static_cast<const char *>(w.pvBuffer),
                           strnlen(static_cast<const char *>(w.pvBuffer), w.unBufferSize));
    if (w.unTag == vr::k_unInt32PropertyTag && w.pvBuffer && w.unBufferSize == 4) {
      int32_t v;
      std::memcpy(&v, w.pvBuffer, 4);
      e.value = v;
    }
    w.eError = vr::TrackedProp_Success;
    Record(std::move(e));
  }
  return vr::TrackedProp_Success;
}

vr::EVRInputError DevHost::AddComponent(Event e, vr::VRInputComponentHandle_t *pHandle) {
  {
    std::lock_guard lock(mutex_);
    const vr::VRInputComponentHandle_t handle = nextHandle_++;
    components_.emplace_back(handle, e.text);
    if (pHandle) *pHandle = handle;
    e.number = static_cast<int64_t>(handle);
  }
  Record(std::move(e));
  return vr::VRInputError_None;
}

vr::EVRInputError DevHost::CreateBooleanComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                                  vr::VRInputComponentHandle_t *pHandle) {
  Event e{Event::Kind::ComponentCreated};
  e.text = pchName ? pchName : "";
  e.handle = ulContainer;
  e.tag = 0xFFFFFFFF; // boolean
  return AddComponent(std::move(e), pHandle);
}

vr::EVRInputError DevHost::CreateScalarComponent(vr::PropertyContainerHandle_t ulContainer, const char *pchName,
                                                 vr::VRInputComponentHandle_t *pHandle, vr::EVRScalarType eType,
                                                 vr::EVRScalarUnits eUnits) {
  Event e{Event::Kind::ComponentCreated};
  e.text = pchName ? pchName : "";
  e.handle = ulContainer;
  e.tag = static_cast<uint32_t>(eType);
  e.size = static_cast<uint32_t>(eUnits);
  return AddComponent(std::move(e), pHandle);
}

vr::EVRInputError DevHost::UpdateBooleanComponent(vr::VRInputComponentHandle_t ulComponent, bool bNewValue,
                                                  double fTimeOffset) {
  Event e{Event::Kind::BooleanUpdate};
  e.handle = ulComponent;
  e.text = ComponentName(ulComponent);
  e.value = bNewValue ? 1.0 : 0.0;
  e.pose.poseTimeOffset = fTimeOffset;
  Record(std::move(e));
  return vr::VRInputError_None;
}

vr::EVRInputError DevHost::UpdateScalarComponent(vr::VRInputComponentHandle_t ulComponent, float fNewValue,
                                                 double fTimeOffset) {
  Event e{Event::Kind::ScalarUpdate};
  e.handle = ulComponent;
  e.text = ComponentName(ulComponent);
  e.value = fNewValue;
  e.pose.poseTimeOffset = fTimeOffset;
  Record(std::move(e));
  return vr::VRInputError_None;
}

void DevHost::Log(const char *pchLogMessage) {
  Event e{Event::Kind::Log};
  e.text = pchLogMessage ? pchLogMessage : "";
  Record(std::move(e));
}

uint32_t DevHost::GetDriverName(vr::DriverId_t nDriver, char *pchValue, uint32_t unBufferSize) {
  static const char kName[] = "vantorelle_k5";
  if (nDriver != 0) return 0;
  if (pchValue && unBufferSize) {
    std::strncpy(pchValue, kName, unBufferSize - 1);
    pchValue[unBufferSize - 1] = '\0';
  }
  return sizeof(kName);
}

namespace {
std::string Fixed(double v, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", digits, v);
  return buffer;
}
} // namespace

std::string FormatEvent(const Event &e) {
  std::string out = "[" + Fixed(e.seconds, 3) + "] ";
  switch (e.kind) {
  case Event::Kind::InterfaceRequest:
    return out + "interface " + e.text + (e.granted ? "" : " (withheld)");
  case Event::Kind::DeviceAdded:
    return out + "device added: serial \"" + e.text + "\" class " + std::to_string(e.number);
  case Event::Kind::Log:
    return out + "driver: " + e.text;
  case Event::Kind::Property:
    return out + "property " + std::to_string(e.number) + " = " +
           (e.tag == vr::k_unStringPropertyTag ? "\"" + e.stringValue + "\""
                                               : std::to_string(static_cast<int64_t>(e.value))) +
           " (tag " + std::to_string(e.tag) + ", " + std::to_string(e.size) + " bytes)";
  case Event::Kind::ComponentCreated:
    return out + "component " + e.text + (e.tag == 0xFFFFFFFF ? " boolean" : " scalar") + " -> handle " +
           std::to_string(e.number);
  case Event::Kind::BooleanUpdate:
    return out + "input " + e.text + " = " + (e.value != 0 ? "true" : "false");
  case Event::Kind::ScalarUpdate:
    return out + "input " + e.text + " = " + Fixed(e.value, 2);
  case Event::Kind::PoseUpdate: {
    const vr::DriverPose_t &p = e.pose;
    return out + "pose device " + std::to_string(e.number) + (p.poseIsValid ? " valid" : " invalid") +
           (p.deviceIsConnected ? " connected" : " disconnected") + " pos (" + Fixed(p.vecPosition[0], 3) + ", " +
           Fixed(p.vecPosition[1], 3) + ", " + Fixed(p.vecPosition[2], 3) + ") rot (" + Fixed(p.qRotation.w, 3) + ", " +
           Fixed(p.qRotation.x, 3) + ", " + Fixed(p.qRotation.y, 3) + ", " + Fixed(p.qRotation.z, 3) + ")";
  }
  }
  return out;
}

std::string FormatEventJson(const Event &e) {
  nlohmann::json j;
  j["t"] = e.seconds;
  j["kind"] = KindName(e.kind);
  switch (e.kind) {
  case Event::Kind::InterfaceRequest:
    j["version"] = e.text;
    j["granted"] = e.granted;
    break;
  case Event::Kind::DeviceAdded:
    j["serial"] = e.text;
    j["class"] = e.number;
    break;
  case Event::Kind::Log:
    j["line"] = e.text;
    break;
  case Event::Kind::Property:
    j["prop"] = e.number;
    j["tag"] = e.tag;
    j["size"] = e.size;
    if (e.tag == vr::k_unStringPropertyTag)
      j["value"] = e.stringValue;
    else
      j["value"] = static_cast<int64_t>(e.value);
    break;
  case Event::Kind::ComponentCreated:
    j["name"] = e.text;
    j["type"] = e.tag == 0xFFFFFFFF ? "boolean" : "scalar";
    j["handle"] = e.number;
    break;
  case Event::Kind::BooleanUpdate:
    j["name"] = e.text;
    j["value"] = e.value != 0;
    break;
  case Event::Kind::ScalarUpdate:
    j["name"] = e.text;
    j["value"] = e.value;
    break;
  case Event::Kind::PoseUpdate: {
    const vr::DriverPose_t &p = e.pose;
    j["device"] = e.number;
    j["size"] = e.size;
    j["valid"] = p.poseIsValid;
    j["connected"] = p.deviceIsConnected;
    j["result"] = static_cast<int>(p.result);
    j["position"] = {p.vecPosition[0], p.vecPosition[1], p.vecPosition[2]};
    j["rotation"] = {p.qRotation.w, p.qRotation.x, p.qRotation.y, p.qRotation.z};
    break;
  }
  }
  // Driver text is not guaranteed to be valid UTF-8; never let that abort the host.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace devhost
