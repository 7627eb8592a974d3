// Identifiers of Bootwarden's resources, shared by Bootwarden.rc and the program.
// Plain #defines under a classic include guard, so that both resource compilers (windres and rc) read it.
#ifndef BOOTWARDEN_RESOURCE_H
#define BOOTWARDEN_RESOURCE_H

// The application icon (16, 32, 48 and 256 pixels).
#define IDI_APP 1

// The icon of a list row whose program has none: a 32x32 and a 16x16 image in 16 colours.
#define IDI_DEFAULT_ENTRY 101

// The tool bar glyphs for 96, 144 and 192 DPI: five square glyphs side by side (16, 24 and 32 pixels), 24-bit,
// magenta RGB(255, 0, 255) as the transparent colour for ImageList_AddMasked. Glyph order, from index 0:
// Refresh, Delete, Add, Help, Properties.
#define IDB_TOOLBAR16 201
#define IDB_TOOLBAR24 202
#define IDB_TOOLBAR32 203


#endif // BOOTWARDEN_RESOURCE_H
