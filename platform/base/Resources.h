#pragma once

// The bundled resources (images, forms' icons, the default program list)
// live in the static core library; this makes sure they are linked in and
// registered. Call once, early in main().
namespace orbitune {
void initResources();
}
