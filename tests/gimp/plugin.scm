; The GIMP plug-in as a script uses it, in one GIMP session. The caller
; defines `dir` (a scratch folder holding design.dis, copies of it and a
; damaged file) before loading this file. Each check says "ok: ..." or
; "FAIL: ..." through gimp-message; refusals are caught and their words
; checked; the caller compares the files written with the tool.

(define (say text) (gimp-message text))
(define (check what good) (say (string-append (if good "ok: " "FAIL: ") what)))
(define (path name) (string-append dir "/" name))

; Runs thunk; its value, or ("error" message ...) when it fails.
(define (try thunk)
  (call/cc
    (lambda (k)
      (set! *error-hook*
            (lambda args (set! *error-hook* throw) (k (cons "error" args))))
      (let ((value (thunk)))
        (set! *error-hook* throw)
        value))))

; Whether `text` contains `part`.
(define (contains? text part)
  (let ((n (string-length text)) (m (string-length part)))
    (let loop ((i 0))
      (cond ((> (+ i m) n) #f)
            ((string=? (substring text i (+ i m)) part) #t)
            (else (loop (+ i 1)))))))

; Checks that thunk fails with a message containing `words`.
(define (refused what words thunk)
  (let ((result (try thunk)))
    (check (string-append what " (" (if (and (pair? result) (equal? (car result) "error"))
                                        (cadr result) "not refused") ")")
           (and (pair? result) (equal? (car result) "error") (contains? (cadr result) words)))))

(define (layers-of image) (vector->list (cadr (gimp-image-get-layers image))))
(define (name-of item) (car (gimp-item-get-name item)))
(define (open name) (car (gimp-file-load RUN-NONINTERACTIVE (path name) name)))
(define (export image name encoding)
  (file-btreeimg-save RUN-NONINTERACTIVE image (car (layers-of image)) (path name) name
                      encoding))

; Open: an indexed image, one layer per plane, plane 1 on top.
(define design (open "design.dis"))
(check "opens as an indexed image" (= (car (gimp-image-base-type design)) INDEXED))
(check "one layer per plane, plane 1 on top"
       (equal? (map name-of (layers-of design)) '("plane 1" "plane 2" "plane 3")))
(check "the colour map's 256 entries"
       (= (car (gimp-image-get-colormap design)) 768))
(check "the file found by its bytes, without its extension"
       (= (length (layers-of (open "design-copy"))) 3))

; Export: the same image (also from layers with transparency), then the
; image with one pixel of plane 2 and the last colour changed.
(export design "same.dis" "")
(export design "raw.dis" "raw")
(let ((alpha (car (gimp-image-duplicate design))))
  (for-each (lambda (layer) (gimp-layer-add-alpha layer)) (layers-of alpha))
  (export alpha "alpha.dis" ""))
(gimp-drawable-set-pixel (cadr (layers-of design)) 10 20 1 #(7))
(let ((map (cadr (gimp-image-get-colormap design))))
  (vector-set! map 765 9)
  (gimp-image-set-colormap design 768 map))
(export design "edited.dis" "auto")

; A small picture for the open dialog: plane 1 fitted into the square.
(let* ((thumb (file-btreeimg-load-thumb (path "design.dis") 64))
       (picture (car thumb)))
  (check "the thumbnail's picture is 64 x 48"
         (and (= (car (gimp-image-width picture)) 64) (= (car (gimp-image-height picture)) 48)))
  (check "the thumbnail tells the image's size and planes"
         (equal? (cdr thumb) (list 256 192 INDEXED-IMAGE 3)))
  (export picture "thumb.dis" ""))

; A grey image exports with a grey ramp; its grey levels become indices.
(let* ((grey (car (gimp-image-new 8 4 GRAY)))
       (layer (car (gimp-layer-new grey 8 4 GRAY-IMAGE "grey" 100 LAYER-MODE-NORMAL))))
  (gimp-image-insert-layer grey layer 0 0)
  (gimp-drawable-set-pixel layer 3 2 1 #(200))
  (export grey "grey.dis" "")
  (let* ((back (open "grey.dis"))
         (map (cadr (gimp-image-get-colormap back))))
    (check "a grey image's colour map is a grey ramp"
           (and (= (vector-ref map 600) 200) (= (vector-ref map 601) 200)
                (= (vector-ref map 602) 200) (= (vector-ref map 3) 1)))
    (check "a grey level becomes an index"
           (equal? (gimp-drawable-get-pixel (car (layers-of back)) 3 2) '(1 #(200))))))

; Refusals, in words; the file they would have replaced stays as it was.
(refused "a damaged file" "The image file is damaged: plane 2: header block at 50464"
         (lambda () (open "cut.dis")))
(refused "a plane over the pixel limit"
         "The image is too large: the image states 65535 x 65535 pixels, more than the limit"
         (lambda () (open "huge.dis")))
(refused "an unknown encoding" "Unknown encoding" (lambda () (export design "kept.dis" "zip")))
(let ((six (car (gimp-image-duplicate design))))
  (let loop ((n 3))
    (when (< n 6)
      (gimp-image-insert-layer six (car (gimp-layer-copy (car (layers-of six)) FALSE)) 0 0)
      (loop (+ n 1))))
  (refused "six layers" "The image has 6 layers" (lambda () (export six "kept.dis" ""))))
(let ((moved (car (gimp-image-duplicate design))))
  (gimp-layer-set-offsets (caddr (layers-of moved)) 1 0)
  (refused "a layer moved" "the planes of an image have one size"
           (lambda () (export moved "kept.dis" ""))))
(let* ((noisy (car (gimp-image-new 64 8 INDEXED)))
       (top (car (gimp-layer-new noisy 64 8 INDEXED-IMAGE "top" 100 LAYER-MODE-NORMAL)))
       (bottom (car (gimp-layer-new noisy 64 8 INDEXED-IMAGE "bottom" 100 LAYER-MODE-NORMAL))))
  (gimp-image-set-colormap noisy 6 #(0 0 0 255 255 255))
  (gimp-image-insert-layer noisy bottom 0 0)
  (gimp-image-insert-layer noisy top 0 0)
  ; Pixels alternating along every line: packed, plane 1 needs more room
  ; than a raw plane, where plane 2's header block begins.
  (let loop ((i 0))
    (when (< i 512)
      (gimp-drawable-set-pixel top (modulo i 64) (quotient i 64) 1 (vector (modulo i 2)))
      (loop (+ i 1))))
  (refused "a plane too large packed" "Export it raw"
           (lambda () (export noisy "kept.dis" "packed"))))
(let ((rgb (car (gimp-image-duplicate design))))
  (gimp-image-convert-rgb rgb)
  (refused "an RGB image" "Image > Mode > Indexed" (lambda () (export rgb "kept.dis" ""))))
(say "done")
