// PNG pictures stored in the launcher's module as resources of the custom type "PNG".
#pragma once
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

// Decodes PNG resource id of the launcher's module; nothing when it is missing or undecodable.
// GDI+ must be running (GdiplusSession).
std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(UINT id);
