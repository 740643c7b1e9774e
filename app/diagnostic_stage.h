#pragma once

// The moments the diagnostic modes record; the actions name them without knowing how they are written.
enum class DiagnosticStage { Startup, WindowOpen, MouseUp, LinkClick, ServiceUpdate, BrowserOpen };
