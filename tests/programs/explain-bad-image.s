; An image the loader refuses: the explanation gives the loader's reason.
.identifier "zentu-test-badimage1"
.marker 0xFE, 0xFF

.exports
.export "main" code=main method=main

.methods
.method main

.code
main:
    ret 0, 1
