package com.zephra.tallix.exceptions;

/** Thrown by the voice engine's native methods; the message says what failed. */
public class TallixException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    public TallixException(String message) {
        super(message);
    }
}
