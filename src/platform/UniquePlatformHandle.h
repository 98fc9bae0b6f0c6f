// Owners of the handles obtained through the program's platform seam (the
// registry key's owner is in RegistryReader.h).
#pragma once

#include "platform/Platform.h"
#include "platform/UniqueHandleOf.h"

namespace ravitor {

template <typename Handle, void (Platform::*Close)(Handle)>
using UniquePlatformHandle = UniqueHandleOf<Platform, Handle, Close>;

using UniqueHook = UniquePlatformHandle<HookHandle, &Platform::RemoveHook>;
using UniqueThreadHandle = UniquePlatformHandle<ThreadHandle, &Platform::CloseThreadHandle>;
using UniqueEventSource = UniquePlatformHandle<EventSourceHandle, &Platform::CloseEventSource>;
using UniqueMutex = UniquePlatformHandle<MutexHandle, &Platform::CloseMutex>;

}  // namespace ravitor
