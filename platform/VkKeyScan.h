#pragma once

// The Windows virtual key that types a character, as VkKeyScanExA reports it for the US keyboard
// layout: the key in the low byte, the modifiers it needs in the high byte (0x100 shift, 0x200
// control). Editors here speak Windows key codes on every platform, and Linux has no keyboard
// layout of the host's to ask, so the US layout stands in. 0 for a character no key types.
int VkKeyScan(char c);
