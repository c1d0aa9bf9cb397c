// The parts' components over the global state object (GetGlobal()): the
// index owner of a part, made on first use and registered with the working
// index on each call (the newest global state object may change: a task's
// own), and the task component the imaging task makes for a run of a part
// over the global state's file-system context.
#pragma once

#include <memory>

#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "image/Index.h"

template <class Owner>
Owner& GlobalIndexOwner(IndexOwner part) {
  static Owner owner;
  GetGlobal().g_WorkingIndex.SetComponent(part, &owner);
  return owner;
}

// Component is built from (const FileSystemContext&, ITaskProgress*,
// AImageFile*).
template <class Component>
void SetFileSystemTaskComponent(TaskPart part) {
  SetTaskComponentFactory(part, [](AImageFile& image, ITaskProgress* progress) {
    return std::unique_ptr<ATaskComponent>(
        std::make_unique<Component>(MakeFileSystemContext(GetGlobal()), progress, &image));
  });
}
