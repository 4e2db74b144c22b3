// Binary-compatible subset of the host's driver header (interface versions
// IServerTrackedDeviceProvider_004 / ITrackedDeviceServerDriver_005).
//
// Only what this driver and its development host use is declared, but every
// interface that is declared is declared whole, in slot order, because the
// host calls through vtables. Configure with VK5_OPENVR_INCLUDE_DIR to build
// against an official header instead; nothing in the sources changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vr {

// ---- Math types -------------------------------------------------------------
#pragma pack(push, 8)
struct HmdMatrix34_t {
  float m[3][4];
};
struct HmdVector2_t {
  float v[2];
};
struct HmdVector3_t {
  float v[3];
};
struct HmdVector4_t {
  float v[4];
};
struct HmdVector3d_t {
  double v[3];
};
struct HmdQuaternion_t {
  double w, x, y, z;
};
struct HmdQuaternionf_t {
  float w, x, y, z;
};
struct HmdRect2_t {
  HmdVector2_t vTopLeft;
  HmdVector2_t vBottomRight;
};
struct VRBoneTransform_t {
  HmdVector4_t position;
  HmdQuaternionf_t orientation;
};
#pragma pack(pop)

// ---- Handles and constants --------------------------------------------------
typedef uint32_t TrackedDeviceIndex_t;
typedef uint64_t PropertyContainerHandle_t;
typedef PropertyContainerHandle_t DriverHandle_t;
typedef uint64_t VRInputComponentHandle_t;
typedef uint32_t PropertyTypeTag_t;
typedef uint32_t DriverId_t;

static const uint32_t k_nDriverNone = 0xFFFFFFFF;
static const uint32_t k_unTrackedDeviceIndex_Hmd = 0;
static const uint32_t k_unMaxTrackedDeviceCount = 64;
static const uint32_t k_unTrackedDeviceIndexOther = 0xFFFFFFFE;
static const uint32_t k_unTrackedDeviceIndexInvalid = 0xFFFFFFFF;
static const PropertyContainerHandle_t k_ulInvalidPropertyContainer = 0;
static const DriverHandle_t k_ulInvalidDriverHandle = 0;
static const PropertyTypeTag_t k_unInvalidPropertyTag = 0;
static const VRInputComponentHandle_t k_ulInvalidInputComponentHandle = 0;
static const uint32_t k_unMaxPropertyStringSize = 32 * 1024;

static const PropertyTypeTag_t k_unFloatPropertyTag = 1;
static const PropertyTypeTag_t k_unInt32PropertyTag = 2;
static const PropertyTypeTag_t k_unUint64PropertyTag = 3;
static const PropertyTypeTag_t k_unBoolPropertyTag = 4;
static const PropertyTypeTag_t k_unStringPropertyTag = 5;
static const PropertyTypeTag_t k_unErrorPropertyTag = 6;
static const PropertyTypeTag_t k_unDoublePropertyTag = 7;

// ---- Enums ------------------------------------------------------------------
enum ETrackingResult {
  TrackingResult_Uninitialized = 1,
  TrackingResult_Calibrating_InProgress = 100,
  TrackingResult_Calibrating_OutOfRange = 101,
  TrackingResult_Running_OK = 200,
  TrackingResult_Running_OutOfRange = 201,
  TrackingResult_Fallback_RotationOnly = 300,
};

enum ETrackedDeviceClass {
  TrackedDeviceClass_Invalid = 0,
  TrackedDeviceClass_HMD = 1,
  TrackedDeviceClass_Controller = 2,
  TrackedDeviceClass_GenericTracker = 3,
  TrackedDeviceClass_TrackingReference = 4,
  TrackedDeviceClass_DisplayRedirect = 5,
  TrackedDeviceClass_Max
};

enum ETrackedControllerRole {
  TrackedControllerRole_Invalid = 0,
  TrackedControllerRole_LeftHand = 1,
  TrackedControllerRole_RightHand = 2,
  TrackedControllerRole_OptOut = 3,
  TrackedControllerRole_Treadmill = 4,
  TrackedControllerRole_Stylus = 5,
  TrackedControllerRole_Max = 5
};

enum ETrackedDeviceProperty {
  Prop_Invalid = 0,
  Prop_TrackingSystemName_String = 1000,
  Prop_ModelNumber_String = 1001,
  Prop_SerialNumber_String = 1002,
  Prop_RenderModelName_String = 1003,
  Prop_ManufacturerName_String = 1005,
  Prop_DeviceClass_Int32 = 1029,
  Prop_InputProfilePath_String = 1037,
  Prop_ControllerRoleHint_Int32 = 3007,
  Prop_ControllerType_String = 7000,
  Prop_ControllerHandSelectionPriority_Int32 = 7002,
  Prop_TrackedDeviceProperty_Max = 1000000,
};

enum ETrackedPropertyError {
  TrackedProp_Success = 0,
  TrackedProp_WrongDataType = 1,
  TrackedProp_WrongDeviceClass = 2,
  TrackedProp_BufferTooSmall = 3,
  TrackedProp_UnknownProperty = 4,
  TrackedProp_InvalidDevice = 5,
  TrackedProp_CouldNotContactServer = 6,
  TrackedProp_ValueNotProvidedByDevice = 7,
  TrackedProp_StringExceedsMaximumLength = 8,
  TrackedProp_NotYetAvailable = 9,
  TrackedProp_PermissionDenied = 10,
  TrackedProp_InvalidOperation = 11,
  TrackedProp_CannotWriteToWildcards = 12,
  TrackedProp_IPCReadFailure = 13,
  TrackedProp_OutOfMemory = 14,
  TrackedProp_InvalidContainer = 15,
};

enum EPropertyWriteType {
  PropertyWrite_Set = 0,
  PropertyWrite_Erase = 1,
  PropertyWrite_SetError = 2,
};

enum EVRInitError {
  VRInitError_None = 0,
  VRInitError_Unknown = 1,
  VRInitError_Init_InstallationNotFound = 100,
  VRInitError_Init_InstallationCorrupt = 101,
  VRInitError_Init_VRClientDLLNotFound = 102,
  VRInitError_Init_FileNotFound = 103,
  VRInitError_Init_FactoryNotFound = 104,
  VRInitError_Init_InterfaceNotFound = 105,
  VRInitError_Init_InvalidInterface = 106,
  VRInitError_Init_NotInitialized = 109,
  VRInitError_Init_Internal = 124,
  VRInitError_Driver_Failed = 200,
  VRInitError_Driver_Unknown = 201,
  VRInitError_Driver_NotLoaded = 203,
  VRInitError_Driver_TrackedDeviceInterfaceUnknown = 209,
};

enum EVRInputError {
  VRInputError_None = 0,
  VRInputError_NameNotFound = 1,
  VRInputError_WrongType = 2,
  VRInputError_InvalidHandle = 3,
  VRInputError_InvalidParam = 4,
  VRInputError_NoSteam = 5,
  VRInputError_MaxCapacityReached = 6,
  VRInputError_IPCError = 7,
  VRInputError_NoActiveActionSet = 8,
  VRInputError_InvalidDevice = 9,
};

enum EVRScalarType {
  VRScalarType_Absolute = 0,
  VRScalarType_Relative = 1,
};

enum EVRScalarUnits {
  VRScalarUnits_NormalizedOneSided = 0,
  VRScalarUnits_NormalizedTwoSided = 1,
};

enum EVRSkeletalTrackingLevel {
  VRSkeletalTracking_Estimated = 0,
  VRSkeletalTracking_Partial = 1,
  VRSkeletalTracking_Full = 2,
};

enum EVRSkeletalMotionRange {
  VRSkeletalMotionRange_WithController = 0,
  VRSkeletalMotionRange_WithoutController = 1,
};

enum EVRSettingsError {
  VRSettingsError_None = 0,
  VRSettingsError_IPCFailed = 1,
  VRSettingsError_WriteFailed = 2,
  VRSettingsError_ReadFailed = 3,
  VRSettingsError_JsonParseFailed = 4,
  VRSettingsError_UnsetSettingHasNoDefault = 5,
};

enum EVREventType {
  VREvent_None = 0,
};

// Passed only by pointer or reference; their contents are never read here.
struct VREvent_t;
union VREvent_Data_t;
struct Compositor_FrameTiming;

// ---- Records ----------------------------------------------------------------
#pragma pack(push, 8)
struct TrackedDevicePose_t {
  HmdMatrix34_t mDeviceToAbsoluteTracking;
  HmdVector3_t vVelocity;
  HmdVector3_t vAngularVelocity;
  ETrackingResult eTrackingResult;
  bool bPoseIsValid;
  bool bDeviceIsConnected;
};
#pragma pack(pop)

struct DriverPose_t {
  double poseTimeOffset;
  HmdQuaternion_t qWorldFromDriverRotation;
  double vecWorldFromDriverTranslation[3];
  HmdQuaternion_t qDriverFromHeadRotation;
  double vecDriverFromHeadTranslation[3];
  double vecPosition[3];
  double vecVelocity[3];
  double vecAcceleration[3];
  HmdQuaternion_t qRotation;
  double vecAngularVelocity[3];
  double vecAngularAcceleration[3];
  ETrackingResult result;
  bool poseIsValid;
  bool willDriftInYaw;
  bool shouldApplyHeadModel;
  bool deviceIsConnected;
};

struct PropertyWrite_t {
  ETrackedDeviceProperty prop;
  EPropertyWriteType writeType;
  ETrackedPropertyError eSetError;
  void *pvBuffer;
  uint32_t unBufferSize;
  PropertyTypeTag_t unTag;
  ETrackedPropertyError eError;
};

struct PropertyRead_t {
  ETrackedDeviceProperty prop;
  void *pvBuffer;
  uint32_t unBufferSize;
  PropertyTypeTag_t unTag;
  uint32_t unRequiredBufferSize;
  ETrackedPropertyError eError;
};

// ---- Interface versions -----------------------------------------------------
static const char *IServerTrackedDeviceProvider_Version = "IServerTrackedDeviceProvider_004";
static const char *ITrackedDeviceServerDriver_Version = "ITrackedDeviceServerDriver_005";
static const char *IVRServerDriverHost_Version = "IVRServerDriverHost_006";
static const char *const IVRSettings_Version = "IVRSettings_003";
static const char *const IVRProperties_Version = "IVRProperties_001";
static const char *IVRDriverLog_Version = "IVRDriverLog_001";
static const char *const IVRDriverManager_Version = "IVRDriverManager_001";
static const char *const IVRResources_Version = "IVRResources_001";
static const char *const IVRDriverInput_Version = "IVRDriverInput_003";

// ---- Interfaces: no base, no data, no virtual destructor, unique names -------
class IVRDriverContext {
public:
  virtual void *GetGenericInterface(const char *pchInterfaceVersion, EVRInitError *peError = nullptr) = 0;
  virtual DriverHandle_t GetDriverHandle() = 0;
};

class IServerTrackedDeviceProvider {
public:
  virtual EVRInitError Init(IVRDriverContext *pDriverContext) = 0;
  virtual void Cleanup() = 0;
  virtual const char *const *GetInterfaceVersions() = 0;
  virtual void RunFrame() = 0;
  virtual bool ShouldBlockStandbyMode() = 0;
  virtual void EnterStandby() = 0;
  virtual void LeaveStandby() = 0;
};

// mingw-w64 passes the hidden result pointer of a by-value struct return
// before `this`, an MSVC host passes it after. Declaring the slot with an
// explicit out pointer that is also returned reproduces the MSVC registers.
#if defined(__MINGW32__) && !defined(_MSC_VER)
#define VK5_GETPOSE_OUT_PARAM 1
#endif

class ITrackedDeviceServerDriver {
public:
  virtual EVRInitError Activate(uint32_t unObjectId) = 0;
  virtual void Deactivate() = 0;
  virtual void EnterStandby() = 0;
  virtual void *GetComponent(const char *pchComponentNameAndVersion) = 0;
  virtual void DebugRequest(const char *pchRequest, char *pchResponseBuffer, uint32_t unResponseBufferSize) = 0;
#ifdef VK5_GETPOSE_OUT_PARAM
  virtual DriverPose_t *GetPose(DriverPose_t *pPoseOut) = 0;
#else
  virtual DriverPose_t GetPose() = 0;
#endif
};

class IVRServerDriverHost {
public:
  virtual bool TrackedDeviceAdded(const char *pchDeviceSerialNumber, ETrackedDeviceClass eDeviceClass,
                                  ITrackedDeviceServerDriver *pDriver) = 0;
  virtual void TrackedDevicePoseUpdated(uint32_t unWhichDevice, const DriverPose_t &newPose,
                                        uint32_t unPoseStructSize) = 0;
  virtual void VsyncEvent(double vsyncTimeOffsetSeconds) = 0;
  virtual void VendorSpecificEvent(uint32_t unWhichDevice, EVREventType eventType, const VREvent_Data_t &eventData,
                                   double eventTimeOffset) = 0;
  virtual bool IsExiting() = 0;
  virtual bool PollNextEvent(VREvent_t *pEvent, uint32_t uncbVREvent) = 0;
  virtual void GetRawTrackedDevicePoses(float fPredictedSecondsFromNow, TrackedDevicePose_t *pTrackedDevicePoseArray,
                                        uint32_t unTrackedDevicePoseArrayCount) = 0;
  virtual void RequestRestart(const char *pchLocalizedReason, const char *pchExecutableToStart,
                              const char *pchArguments, const char *pchWorkingDirectory) = 0;
  virtual uint32_t GetFrameTimings(Compositor_FrameTiming *pTiming, uint32_t nFrames) = 0;
  virtual void SetDisplayEyeToHead(uint32_t unWhichDevice, const HmdMatrix34_t &eyeToHeadLeft,
                                   const HmdMatrix34_t &eyeToHeadRight) = 0;
  virtual void SetDisplayProjectionRaw(uint32_t unWhichDevice, const HmdRect2_t &eyeLeft,
                                       const HmdRect2_t &eyeRight) = 0;
  virtual void SetRecommendedRenderTargetSize(uint32_t unWhichDevice, uint32_t nWidth, uint32_t nHeight) = 0;
};

class IVRProperties {
public:
  virtual ETrackedPropertyError ReadPropertyBatch(PropertyContainerHandle_t ulContainerHandle, PropertyRead_t *pBatch,
                                                  uint32_t unBatchEntryCount) = 0;
  virtual ETrackedPropertyError WritePropertyBatch(PropertyContainerHandle_t ulContainerHandle, PropertyWrite_t *pBatch,
                                                   uint32_t unBatchEntryCount) = 0;
  virtual const char *GetPropErrorNameFromEnum(ETrackedPropertyError error) = 0;
  virtual PropertyContainerHandle_t TrackedDeviceToPropertyContainer(TrackedDeviceIndex_t nDevice) = 0;
};

class IVRDriverInput {
public:
  virtual EVRInputError CreateBooleanComponent(PropertyContainerHandle_t ulContainer, const char *pchName,
                                               VRInputComponentHandle_t *pHandle) = 0;
  virtual EVRInputError UpdateBooleanComponent(VRInputComponentHandle_t ulComponent, bool bNewValue,
                                               double fTimeOffset) = 0;
  virtual EVRInputError CreateScalarComponent(PropertyContainerHandle_t ulContainer, const char *pchName,
                                              VRInputComponentHandle_t *pHandle, EVRScalarType eType,
                                              EVRScalarUnits eUnits) = 0;
  virtual EVRInputError UpdateScalarComponent(VRInputComponentHandle_t ulComponent, float fNewValue,
                                              double fTimeOffset) = 0;
  virtual EVRInputError CreateHapticComponent(PropertyContainerHandle_t ulContainer, const char *pchName,
                                              VRInputComponentHandle_t *pHandle) = 0;
  virtual EVRInputError CreateSkeletonComponent(PropertyContainerHandle_t ulContainer, const char *pchName,
                                                const char *pchSkeletonPath, const char *pchBasePosePath,
                                                EVRSkeletalTrackingLevel eSkeletalTrackingLevel,
                                                const VRBoneTransform_t *pGripLimitTransforms,
                                                uint32_t unGripLimitTransformCount,
                                                VRInputComponentHandle_t *pHandle) = 0;
  virtual EVRInputError UpdateSkeletonComponent(VRInputComponentHandle_t ulComponent,
                                                EVRSkeletalMotionRange eMotionRange,
                                                const VRBoneTransform_t *pTransforms, uint32_t unTransformCount) = 0;
};

class IVRDriverLog {
public:
  virtual void Log(const char *pchLogMessage) = 0;
};

class IVRSettings {
public:
  virtual const char *GetSettingsErrorNameFromEnum(EVRSettingsError eError) = 0;
  virtual void SetBool(const char *pchSection, const char *pchSettingsKey, bool bValue,
                       EVRSettingsError *peError = nullptr) = 0;
  virtual void SetInt32(const char *pchSection, const char *pchSettingsKey, int32_t nValue,
                        EVRSettingsError *peError = nullptr) = 0;
  virtual void SetFloat(const char *pchSection, const char *pchSettingsKey, float flValue,
                        EVRSettingsError *peError = nullptr) = 0;
  virtual void SetString(const char *pchSection, const char *pchSettingsKey, const char *pchValue,
                         EVRSettingsError *peError = nullptr) = 0;
  virtual bool GetBool(const char *pchSection, const char *pchSettingsKey, EVRSettingsError *peError = nullptr) = 0;
  virtual int32_t GetInt32(const char *pchSection, const char *pchSettingsKey, EVRSettingsError *peError = nullptr) = 0;
  virtual float GetFloat(const char *pchSection, const char *pchSettingsKey, EVRSettingsError *peError = nullptr) = 0;
  virtual void GetString(const char *pchSection, const char *pchSettingsKey, char *pchValue, uint32_t unValueLen,
                         EVRSettingsError *peError = nullptr) = 0;
  virtual void RemoveSection(const char *pchSection, EVRSettingsError *peError = nullptr) = 0;
  virtual void RemoveKeyInSection(const char *pchSection, const char *pchSettingsKey,
                                  EVRSettingsError *peError = nullptr) = 0;
};

class IVRDriverManager {
public:
  virtual uint32_t GetDriverCount() const = 0;
  virtual uint32_t GetDriverName(DriverId_t nDriver, char *pchValue, uint32_t unBufferSize) = 0;
  virtual DriverHandle_t GetDriverHandle(const char *pchDriverName) = 0;
  virtual bool IsEnabled(DriverId_t nDriver) const = 0;
};

class IVRResources {
public:
  virtual uint32_t LoadSharedResource(const char *pchResourceName, char *pchBuffer, uint32_t unBufferLen) = 0;
  virtual uint32_t GetResourceFullPath(const char *pchResourceName, const char *pchResourceTypeDirectory,
                                       char *pchPathBuffer, uint32_t unBufferLen) = 0;
};

// ---- Property helpers (module-internal, non-virtual) -------------------------
class CVRPropertyHelpers {
public:
  explicit CVRPropertyHelpers(IVRProperties *pProperties) : m_pProperties(pProperties) {}

  ETrackedPropertyError SetProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                    void *pvNewValue, uint32_t unNewValueSize, PropertyTypeTag_t unTag) {
    PropertyWrite_t batch{};
    batch.writeType = PropertyWrite_Set;
    batch.prop = prop;
    batch.pvBuffer = pvNewValue;
    batch.unBufferSize = unNewValueSize;
    batch.unTag = unTag;
    m_pProperties->WritePropertyBatch(ulContainerHandle, &batch, 1);
    return batch.eError;
  }

  ETrackedPropertyError SetStringProperty(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                          const char *pchNewValue) {
    if (!pchNewValue) return TrackedProp_InvalidOperation;
    return SetProperty(ulContainerHandle, prop, const_cast<char *>(pchNewValue),
                       static_cast<uint32_t>(std::strlen(pchNewValue) + 1), k_unStringPropertyTag);
  }

  ETrackedPropertyError SetInt32Property(PropertyContainerHandle_t ulContainerHandle, ETrackedDeviceProperty prop,
                                         int32_t nNewValue) {
    return SetProperty(ulContainerHandle, prop, &nNewValue, sizeof(nNewValue), k_unInt32PropertyTag);
  }

  PropertyContainerHandle_t TrackedDeviceToPropertyContainer(TrackedDeviceIndex_t nDevice) {
    return m_pProperties->TrackedDeviceToPropertyContainer(nDevice);
  }

private:
  IVRProperties *m_pProperties;
};

// ---- Interface versions offered by this driver --------------------------------
static const char *const k_InterfaceVersions[] = {
    IVRSettings_Version,
    ITrackedDeviceServerDriver_Version,
    "IVRDisplayComponent_002",
    "IVRDriverDirectModeComponent_007",
    "IVRCameraComponent_003",
    IServerTrackedDeviceProvider_Version,
    "IVRWatchdogProvider_001",
    "IVRVirtualDisplay_002",
    IVRDriverManager_Version,
    IVRResources_Version,
    "IVRCompositorPluginProvider_001",
    nullptr,
};

// ---- Driver context (module-wide, as the SDK keeps it) ------------------------
class COpenVRDriverContext {
public:
  COpenVRDriverContext() : m_propertyHelpers(nullptr) { Clear(); }

  void Clear() {
    m_pVRSettings = nullptr;
    m_pVRProperties = nullptr;
    m_pVRServerDriverHost = nullptr;
    m_pVRDriverLog = nullptr;
    m_pVRDriverManager = nullptr;
    m_pVRResources = nullptr;
    m_pVRDriverInput = nullptr;
  }

  IVRSettings *VRSettings() { return Fetch(m_pVRSettings, IVRSettings_Version); }
  IVRProperties *VRPropertiesRaw() {
    if (!m_pVRProperties) {
      Fetch(m_pVRProperties, IVRProperties_Version);
      m_propertyHelpers = CVRPropertyHelpers(m_pVRProperties);
    }
    return m_pVRProperties;
  }
  CVRPropertyHelpers *VRProperties() {
    VRPropertiesRaw();
    return &m_propertyHelpers;
  }
  IVRServerDriverHost *VRServerDriverHost() { return Fetch(m_pVRServerDriverHost, IVRServerDriverHost_Version); }
  IVRDriverLog *VRDriverLog() { return Fetch(m_pVRDriverLog, IVRDriverLog_Version); }
  IVRDriverManager *VRDriverManager() { return Fetch(m_pVRDriverManager, IVRDriverManager_Version); }
  IVRResources *VRResources() { return Fetch(m_pVRResources, IVRResources_Version); }
  IVRDriverInput *VRDriverInput() { return Fetch(m_pVRDriverInput, IVRDriverInput_Version); }

private:
  template <typename T> T *Fetch(T *&cached, const char *version);

  CVRPropertyHelpers m_propertyHelpers;
  IVRSettings *m_pVRSettings;
  IVRProperties *m_pVRProperties;
  IVRServerDriverHost *m_pVRServerDriverHost;
  IVRDriverLog *m_pVRDriverLog;
  IVRDriverManager *m_pVRDriverManager;
  IVRResources *m_pVRResources;
  IVRDriverInput *m_pVRDriverInput;
};

inline IVRDriverContext *&VRDriverContext() {
  static IVRDriverContext *context = nullptr;
  return context;
}

inline COpenVRDriverContext &OpenVRInternal_ModuleServerDriverContext() {
  static COpenVRDriverContext holder;
  return holder;
}

template <typename T> T *COpenVRDriverContext::Fetch(T *&cached, const char *version) {
  if (!cached) {
    EVRInitError error = VRInitError_None;
    cached = static_cast<T *>(VRDriverContext()->GetGenericInterface(version, &error));
  }
  return cached;
}

inline IVRSettings *VRSettings() {
  return OpenVRInternal_ModuleServerDriverContext().VRSettings();
}
inline IVRProperties *VRPropertiesRaw() {
  return OpenVRInternal_ModuleServerDriverContext().VRPropertiesRaw();
}
inline CVRPropertyHelpers *VRProperties() {
  return OpenVRInternal_ModuleServerDriverContext().VRProperties();
}
inline IVRServerDriverHost *VRServerDriverHost() {
  return OpenVRInternal_ModuleServerDriverContext().VRServerDriverHost();
}
inline IVRDriverLog *VRDriverLog() {
  return OpenVRInternal_ModuleServerDriverContext().VRDriverLog();
}
inline IVRDriverManager *VRDriverManager() {
  return OpenVRInternal_ModuleServerDriverContext().VRDriverManager();
}
inline IVRResources *VRResources() {
  return OpenVRInternal_ModuleServerDriverContext().VRResources();
}
inline IVRDriverInput *VRDriverInput() {
  return OpenVRInternal_ModuleServerDriverContext().VRDriverInput();
}

inline EVRInitError InitServerDriverContext(IVRDriverContext *pContext) {
  VRDriverContext() = pContext;
  COpenVRDriverContext &holder = OpenVRInternal_ModuleServerDriverContext();
  holder.Clear();
  // Short-circuits at the first missing interface, as the host expects.
  if (!holder.VRServerDriverHost() || !holder.VRSettings() || !holder.VRProperties() || !holder.VRDriverLog() ||
      !holder.VRDriverManager() || !holder.VRResources())
    return VRInitError_Init_InterfaceNotFound;
  return VRInitError_None;
}

inline void CleanupDriverContext() {
  VRDriverContext() = nullptr;
  OpenVRInternal_ModuleServerDriverContext().Clear();
}

} // namespace vr

#define VR_INIT_SERVER_DRIVER_CONTEXT(pContext)                                                                        \
  {                                                                                                                    \
    vr::EVRInitError eError = vr::InitServerDriverContext(pContext);                                                   \
    if (eError != vr::VRInitError_None) return eError;                                                                 \
  }

#define VR_CLEANUP_SERVER_DRIVER_CONTEXT() vr::CleanupDriverContext();
