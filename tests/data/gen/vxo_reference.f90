! Writes the reference VXO files of the iondata tests with the compiler's own formatted
! output, so that the reader and writer are checked against an independent implementation.
!
!   full5.VXO        three layout-5 records using every group (densities deliberately wrong)
!   full5_out.VXO    what the writer must make of full5.VXO (densities 12380 f^2)
!   old01.VXO        a layout-1 and a layout-0 record with integer heights (999 = no echo)
!   old01_out.VXO    the same records in layout 5
!
! Build and run in tests/data:  gfortran -ffree-line-length-none gen/vxo_reference.f90 && ./a.out
module gen
  implicit none
  integer :: idx(80)
  real(4) :: gconst(16), scaled(120), doptab(16), coef(20, 3), valley(20), valdsc(20)
  real(4) :: vh(400, 9), fq(400, 9), prfht(999), prffn(999), auxht(999), auxfn(999)
  integer :: ivh(400, 9), ith(400, 3), iam(400, 9), idn(400, 9)
  integer :: aflags(60), mamp(20, 3), editch(120), editfl(120)
  real(8) :: qpsegs(153)
  character(len=120) :: sys1, sys2
  character(len=1) :: tstamp(120), quall(120), descl(120)
  character(len=*), parameter :: F5H = '(15F8.3)', FK = '(16F7.3)', FPR = '(15E8.3E1)'
contains
  real function urand(lo, hi)
    real, intent(in) :: lo, hi
    real :: u
    call random_number(u)
    urand = lo + (hi - lo) * u
  end function
  integer function irand(lo, hi)
    integer, intent(in) :: lo, hi
    irand = lo + int(urand(0.0, 0.99999) * real(hi - lo + 1))
  end function
  ! The value a field of format f holds for v: what the file carries and a reader gets back.
  real function norm(v, f)
    real, intent(in) :: v
    character(len=*), intent(in) :: f
    character(len=40) :: s
    write(s, f) v
    read(s, f) norm
  end function
  real(8) function normd(v)
    real(8), intent(in) :: v
    character(len=40) :: s
    write(s, '(E20.12)') v
    read(s, '(E20.12)') normd
  end function
  subroutine fill_chars(c, n)
    character(len=1), intent(out) :: c(:)
    integer, intent(in) :: n
    character(len=*), parameter :: pool = '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-./ '
    integer :: i
    c = ' '
    do i = 1, n
      c(i) = pool(irand(1, len(pool)):irand(1, len(pool)))
    end do
  end subroutine
end module

program vxo_reference
  use gen
  implicit none
  integer :: seed(64), i, r
  seed = 20261207
  call random_seed(put=seed)

  ! ---- layout 5 ------------------------------------------------------------------
  open(10, file='full5.VXO', status='replace')
  open(11, file='full5_out.VXO', status='replace')
  do r = 1, 3
    call make5(r)
    call write5(10, .false.)
    call write5(11, .true.)
  end do
  close(10)
  close(11)

  ! ---- layouts 1 and 0 ----------------------------------------------------------------
  open(10, file='old01.VXO', status='replace')
  open(11, file='old01_out.VXO', status='replace')
  do r = 1, 2
    call make_old(r)
    call write_old(10)
    call write_old_as5(11)
  end do
  close(10)
  close(11)

contains

  subroutine make5(r)
    integer, intent(in) :: r
    integer :: g, k, i
    real(4) :: auxfn_prev(999)
    integer, parameter :: cap(60) = [16, 2, 120, 120, 60, 16, 400, 0, 400, 400, 400, &
      150, 0, 150, 150, 150, 150, 0, 150, 150, 150, 400, 400, 400, 400, &
      150, 150, 150, 150, 150, 150, 150, 150, 20, 20, 20, 20, 20, 20, 153, 120, 20, &
      150, 150, 150, 150, 150, 150, 150, 150, 999, 999, 999, 120, 120, 120, 20, 999, 999, 999]
    auxfn_prev = auxfn
    idx = 0
    select case (r)
    case (1)   ! every group at or near its capacity
      idx(1:60) = cap
      idx(2) = 1
      idx(3) = 77
      idx(40) = 13
      idx(53) = 999
    case (2)   ! partial counts, two text lines, empty groups 52/53, 60 longer than 59
      do g = 1, 60
        if (cap(g) > 0) idx(g) = irand(1, cap(g))
      end do
      idx(2) = 2
      idx(3) = 60
      idx(52) = 0
      idx(53) = 0
      idx(59) = 3
      idx(60) = 5
      idx(10) = 17
      idx(7) = 17
    case (3)   ! only group 1; 52/53 counts without 51; carried elements 61..79
      idx(1) = 5
      idx(52) = 12
      idx(53) = 12
      do g = 61, 79
        idx(g) = irand(-99, 999)
      end do
    end select
    idx(80) = 5
    if (r == 3) then
      gconst(1:5) = [norm(1.35, FK), norm(65.0, FK), norm(-40.0, FK), norm(255.0, FK), norm(100.0, FK)]
      return
    end if
    do i = 1, 16
      gconst(i) = norm(urand(-99.0, 999.0), FK)
      doptab(i) = norm(urand(-9.0, 99.0), FK)
    end do
    sys1 = 'SYNTHETIC REFERENCE RECORD, NAME REF'//achar(48 + r)//' ,LAT 40.0'
    sys2 = 'OPERATOR MESSAGE LINE TWO'
    call fill_chars(tstamp, idx(3))
    call fill_chars(quall, idx(54))
    call fill_chars(descl, idx(55))
    do i = 1, 120
      scaled(i) = norm(urand(-50.0, 999.0), F5H)
      if (mod(i, 7) == 0) scaled(i) = 9999.0
      editch(i) = irand(0, 9)
      editfl(i) = irand(0, 9)
    end do
    do i = 1, 60
      aflags(i) = irand(-9, 99)
    end do
    do k = 1, 3
      do i = 1, 20
        mamp(i, k) = irand(0, 99)
        coef(i, k) = norm(urand(-1.0, 1.0) * 10.0**irand(-8, 8), '(E11.6E1)')
      end do
    end do
    do i = 1, 20
      valley(i) = norm(urand(-1.0, 1.0) * 10.0**irand(-5, 5), '(E11.6E1)')
      valdsc(i) = norm(urand(0.0, 400.0), '(E11.6E1)')
    end do
    do i = 1, 153
      qpsegs(i) = normd(dble(urand(-1.0, 1.0)) * 10.0d0**irand(-20, 20))
    end do
    do k = 1, 9
      do i = 1, 400
        vh(i, k) = norm(urand(80.0, 1200.0), F5H)
        if (mod(i, 11) == 0) vh(i, k) = 9999.0
        fq(i, k) = norm(urand(0.5, 30.0), F5H)
        iam(i, k) = irand(0, 999)
        idn(i, k) = irand(0, 9)
      end do
    end do
    do i = 1, 999
      prfht(i) = norm(urand(60.0, 1000.0), F5H)
      prffn(i) = norm(urand(0.0, 15.0), F5H)
      auxht(i) = norm(urand(60.0, 200.0), FPR)
      auxfn(i) = norm(urand(0.0, 5.0), FPR)
    end do
    prffn(1) = 1.0
    ! Entries beyond a group's count keep the previous record's values in the reader, and
    ! group 60 may be longer than group 59.
    if (r == 2) auxfn(idx(59) + 1:) = auxfn_prev(idx(59) + 1:)
  end subroutine

  ! Layout-5 record; densities either recomputed (as the writer makes them) or a fixed
  ! wrong value (as an input may carry them).
  subroutine write5(u, dens)
    integer, intent(in) :: u
    logical, intent(in) :: dens
    integer :: i
    real(4) :: d(999)
    write(u, '(40I3)') idx
    if (idx(1) > 0) write(u, FK) gconst(1:idx(1))
    if (idx(2) >= 1) write(u, '(A120)') sys1
    if (idx(2) == 2) write(u, '(A120)') sys2
    if (idx(3) > 0) write(u, '(120A1)') tstamp(1:idx(3))
    if (idx(4) > 0) write(u, F5H) scaled(1:idx(4))
    if (idx(5) > 0) write(u, '(60I2)') aflags(1:idx(5))
    if (idx(6) > 0) write(u, FK) doptab(1:idx(6))
    call trace5(u, 7, 1, .true.)
    call trace5(u, 12, 2, .true.)
    call trace5(u, 17, 3, .true.)
    call trace5(u, 22, 4, .false.)
    call trace5(u, 26, 5, .false.)
    call trace5(u, 30, 6, .false.)
    do i = 1, 3
      if (idx(33 + i) > 0) write(u, '(60I2)') mamp(1:idx(33 + i), i)
    end do
    do i = 1, 3
      if (idx(36 + i) > 0) write(u, '(10E11.6E1)') coef(1:idx(36 + i), i)
    end do
    if (idx(40) > 0) write(u, '(6E20.12)') qpsegs(1:idx(40))
    if (idx(41) > 0) write(u, '(120I1)') editch(1:idx(41))
    if (idx(42) > 0) write(u, '(10E11.6E1)') valley(1:idx(42))
    call trace5(u, 43, 7, .false.)
    call trace5(u, 47, 8, .false.)
    if (idx(51) > 0) then
      write(u, F5H) prfht(1:idx(51))
      write(u, F5H) prffn(1:idx(52))
      d = 1.0
      if (dens) d(1:idx(53)) = 12380.0 * prffn(1:idx(53))**2
      write(u, FPR) d(1:idx(53))
    end if
    if (idx(54) > 0) write(u, '(120A1)') quall(1:idx(54))
    if (idx(55) > 0) write(u, '(120A1)') descl(1:idx(55))
    if (idx(56) > 0) write(u, '(120I1)') editfl(1:idx(56))
    if (idx(57) > 0) write(u, '(10E11.6E1)') valdsc(1:idx(57))
    if (idx(58) > 0) then
      write(u, FPR) auxht(1:idx(58))
      write(u, FPR) auxfn(1:idx(59))
      d = 1.0
      if (dens) d(1:idx(60)) = 12380.0 * auxfn(1:idx(60))**2
      write(u, FPR) d(1:idx(60))
    end if
  end subroutine

  ! A trace from group g: heights, (true heights never), amplitudes, Doppler, frequencies.
  subroutine trace5(u, g, k, five)
    integer, intent(in) :: u, g, k
    logical, intent(in) :: five
    integer :: o
    o = 0
    if (five) o = 1
    if (idx(g) > 0) write(u, F5H) vh(1:idx(g), k)
    if (idx(g + o + 1) > 0) write(u, '(40I3)') iam(1:idx(g + o + 1), k)
    if (idx(g + o + 2) > 0) write(u, '(120I1)') idn(1:idx(g + o + 2), k)
    if (idx(g + o + 3) > 0) write(u, F5H) fq(1:idx(g + o + 3), k)
  end subroutine

  ! ---- old layouts ----
  subroutine make_old(r)
    integer, intent(in) :: r
    integer :: i, k
    character(len=11) :: cf
    idx = 0
    idx(1) = 8
    idx(2) = 1
    idx(3) = 60
    idx(4) = 31
    idx(5) = 20
    idx(6) = 4
    idx(7:11) = [17, 17, 17, 17, 17]        ! 17 heights: one 40I3 line, partly blank
    idx(12:16) = [45, 0, 45, 45, 45]
    idx(17:21) = [12, 12, 0, 12, 12]
    idx(22:25) = [21, 21, 21, 21]
    idx(30:33) = [5, 5, 5, 5]
    idx(34) = 20
    idx(37:39) = [10, 9, 7]
    idx(41) = 120
    idx(42) = 2
    idx(43:46) = [3, 3, 3, 3]
    idx(47:50) = [4, 4, 4, 4]
    idx(54:56) = [40, 40, 5]
    idx(57) = 7
    idx(61) = 7
    idx(79) = -12
    idx(80) = 2 - r      ! record 1: layout 1; record 2: layout 0
    if (r == 2) then
      idx(40) = 6        ! valley storage in layout 0
      idx(7) = 61        ! two lines of 40I3
    end if
    cf = '(10E11.6E1)'
    if (idx(80) == 0) cf = '(13E9.4E1)'
    do i = 1, 16
      gconst(i) = norm(urand(-99.0, 999.0), FK)
      doptab(i) = norm(urand(0.0, 99.0), FK)
    end do
    sys1 = 'OLD LAYOUT STATION, NAME OLD'//achar(48 + r)
    call fill_chars(tstamp, idx(3))
    call fill_chars(quall, idx(54))
    call fill_chars(descl, idx(55))
    do i = 1, 120
      scaled(i) = norm(urand(0.5, 999.0), F5H)
      editch(i) = irand(0, 9)
      editfl(i) = irand(0, 9)
    end do
    do i = 1, 60
      aflags(i) = irand(-9, 99)
    end do
    do k = 1, 3
      do i = 1, 20
        mamp(i, k) = irand(0, 99)
        coef(i, k) = norm(urand(-1.0, 1.0) * 10.0**irand(-8, 8), cf)
      end do
    end do
    do i = 1, 20
      valley(i) = norm(urand(-1.0, 1.0) * 10.0**irand(-5, 5), cf)
      valdsc(i) = norm(urand(0.0, 400.0), cf)
    end do
    do k = 1, 9
      do i = 1, 400
        ivh(i, k) = irand(80, 998)
        if (mod(i, 5) == 0) ivh(i, k) = 999
        fq(i, k) = norm(urand(0.5, 30.0), '(F6.3)')
        iam(i, k) = irand(-9, 99)
        idn(i, k) = irand(0, 9)
      end do
    end do
    do k = 1, 3
      do i = 1, 400
        ith(i, k) = irand(80, 700)
      end do
    end do
  end subroutine

  subroutine write_old(u)
    integer, intent(in) :: u
    character(len=11) :: cf
    integer :: i
    cf = '(10E11.6E1)'
    if (idx(80) == 0) cf = '(13E9.4E1)'
    write(u, '(40I3)') idx
    write(u, FK) gconst(1:idx(1))
    write(u, '(A120)') sys1
    write(u, '(120A1)') tstamp(1:idx(3))
    write(u, F5H) scaled(1:idx(4))
    write(u, '(60I2)') aflags(1:idx(5))
    write(u, FK) doptab(1:idx(6))
    call trace_old(u, 7, 1, 1)
    call trace_old(u, 12, 2, 2)
    call trace_old(u, 17, 3, 3)
    call trace_old(u, 22, 4, 0)
    call trace_old(u, 30, 6, 0)
    write(u, '(60I2)') mamp(1:idx(34), 1)
    do i = 1, 3
      write(u, cf) coef(1:idx(36 + i), i)
    end do
    if (idx(40) > 0) write(u, cf) valley(1:idx(40))
    write(u, '(120I1)') editch(1:idx(41))
    write(u, cf) valdsc(1:idx(42))
    call trace_old(u, 43, 7, 0)
    call trace_old(u, 47, 8, 0)
    write(u, '(120A1)') quall(1:idx(54))
    write(u, '(120A1)') descl(1:idx(55))
    write(u, '(120I1)') editfl(1:idx(56))
    write(u, cf) valdsc(1:idx(57))
  end subroutine

  subroutine trace_old(u, g, k, t)
    integer, intent(in) :: u, g, k, t
    integer :: o
    o = 0
    if (t > 0) o = 1
    if (idx(g) > 0) write(u, '(40I3)') ivh(1:idx(g), k)
    if (t > 0) then
      if (idx(g + 1) > 0) write(u, '(40I3)') ith(1:idx(g + 1), t)
    end if
    if (idx(g + o + 1) > 0) write(u, '(60I2)') iam(1:idx(g + o + 1), k)
    if (idx(g + o + 2) > 0) write(u, '(120I1)') idn(1:idx(g + o + 2), k)
    if (idx(g + o + 3) > 0) write(u, '(20F6.3)') fq(1:idx(g + o + 3), k)
  end subroutine

  ! The old record in layout 5: heights as reals (999 -> 9999.0), true heights dropped,
  ! group 40 (valley storage of the old layouts) as doubles, index element 80 = 5.
  subroutine write_old_as5(u)
    integer, intent(in) :: u
    integer :: jdx(80), i
    jdx = idx
    jdx(8) = 0
    jdx(13) = 0
    jdx(18) = 0
    jdx(80) = 5
    write(u, '(40I3)') jdx
    write(u, FK) gconst(1:idx(1))
    write(u, '(A120)') sys1
    write(u, '(120A1)') tstamp(1:idx(3))
    write(u, F5H) scaled(1:idx(4))
    write(u, '(60I2)') aflags(1:idx(5))
    write(u, FK) doptab(1:idx(6))
    call trace_as5(u, 7, 1, .true.)
    call trace_as5(u, 12, 2, .true.)
    call trace_as5(u, 17, 3, .true.)
    call trace_as5(u, 22, 4, .false.)
    call trace_as5(u, 30, 6, .false.)
    write(u, '(60I2)') mamp(1:idx(34), 1)
    do i = 1, 3
      write(u, '(10E11.6E1)') coef(1:idx(36 + i), i)
    end do
    if (idx(40) > 0) write(u, '(6E20.12)') (dble(valley(i)), i = 1, idx(40))
    write(u, '(120I1)') editch(1:idx(41))
    write(u, '(10E11.6E1)') valdsc(1:idx(42))
    call trace_as5(u, 43, 7, .false.)
    call trace_as5(u, 47, 8, .false.)
    write(u, '(120A1)') quall(1:idx(54))
    write(u, '(120A1)') descl(1:idx(55))
    write(u, '(120I1)') editfl(1:idx(56))
    write(u, '(10E11.6E1)') valdsc(1:idx(57))
  end subroutine

  subroutine trace_as5(u, g, k, five)
    integer, intent(in) :: u, g, k
    logical, intent(in) :: five
    integer :: o, i
    real(4) :: h(400)
    o = 0
    if (five) o = 1
    do i = 1, idx(g)
      h(i) = real(ivh(i, k))
      if (ivh(i, k) == 999) h(i) = 9999.0
    end do
    if (idx(g) > 0) write(u, F5H) h(1:idx(g))
    if (idx(g + o + 1) > 0) write(u, '(40I3)') iam(1:idx(g + o + 1), k)
    if (idx(g + o + 2) > 0) write(u, '(120I1)') idn(1:idx(g + o + 2), k)
    if (idx(g + o + 3) > 0) write(u, F5H) fq(1:idx(g + o + 3), k)
  end subroutine

end program
