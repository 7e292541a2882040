// The eight firmware files, one after another, as read-only data of the program. Linking them in
// whole means the transfer writes each file straight from here and nothing is copied at start-up.
// The build checks every file before this is assembled.
        .section ".rodata"
        .balign 16
        .globl  FirmwareImage
        .type   FirmwareImage, @object
FirmwareImage:
        .incbin "TMV54001.bin"
        .incbin "TMV54002.bin"
        .incbin "TMV54003.bin"
        .incbin "TMV54004.bin"
        .incbin "TMV54005.bin"
        .incbin "TMV54006.bin"
        .incbin "TMV54007.bin"
        .incbin "TMV54008.bin"
        .size   FirmwareImage, . - FirmwareImage

// Data only: the stack need not be executable.
        .section .note.GNU-stack,"",@progbits
