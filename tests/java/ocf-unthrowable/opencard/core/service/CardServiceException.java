package opencard.core.service;

/** A framework class of the wrong shape: no constructor that takes a message. */
public class CardServiceException extends Exception {
    private static final long serialVersionUID = 1L;

    public CardServiceException() {
        super();
    }
}
